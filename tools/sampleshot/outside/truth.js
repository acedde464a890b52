// Opened with "#truth", the page replaces itself with its visible text and its button labels, so
// the known text of a screen is what the browser laid out, not a second copy kept by hand.
window.addEventListener('load', () => {
  if (location.hash !== '#truth') return;
  const buttons = [...document.querySelectorAll('.btn')].map(b => b.innerText.trim());
  const text = document.body.innerText;
  document.body.innerHTML = '';
  const pre = document.createElement('pre');
  pre.id = 'truth';
  pre.textContent = JSON.stringify({ text, buttons });
  document.body.appendChild(pre);
});
