#!/usr/bin/env bash
# Records the terminal logs that the transcript is compared with a reference terminal on: real
# programs run through a pseudo-terminal of 100 columns by `script`, kept as the bytes they wrote.
set -euo pipefail
cd "$(dirname "$0")"
export TERM=xterm-256color LC_ALL=C.UTF-8
record() { # name command [input]
  local name=$1 command=$2 input=${3:-}
  printf '%b' "$input" | script -q -e -c "stty cols 100 rows 30; $command" /dev/null >"$name.log" 2>/dev/null || true
}
record colours 'tput setaf 1; printf error; tput sgr0; echo ": build failed"; tput bold; echo bold; tput sgr0;
  printf "\e(0lqqk\e(B box\n"; echo "match here" | grep --color=always here; ls --color=always -d / /tmp;
  printf "\e]0;title\a\e[38;5;208morange\e[m plain\n"'
record progress 'for i in 0 10 20 30 40 50 60 70 80 90 100; do printf "\rDownloading %3d%% [%-20s]" $i "$(printf "%*s" $((i/5)) "" | tr " " "#")"; sleep 0.01; done; echo;
  for i in 1 2 3; do printf "\r\e[K[%d/3] Building object_%d.o" $i $i; sleep 0.01; done; printf "\r\e[2K"; echo "ninja: no work left";
  printf "Receiving objects:  50%% (1/2)\rReceiving objects: 100%% (2/2), done.\r\n"'
record spinner 'for c in "|" "/" "-" "\\" "|"; do printf "%s\b" "$c"; sleep 0.01; done; echo done;
  for c in ⠋ ⠙ ⠹ ⠸; do printf "\r%s Resolving packages" "$c"; sleep 0.01; done; printf "\r\e[K✓ Resolved\n"'
# An interactive shell, typed into key by key once it is up: a command line edited with backspace
# and the arrow keys, and the proof command typed behind a prompt long enough to wrap it.
type_keys() {
  sleep 0.5
  for keys in 'echo helo' '\x7f\x7f' 'lo wrold' '\x1b[D\x1b[D\x1b[D' '\x7f\x7f' 'ro' '\x1b[F' '\r' \
    'PS1="workspace-with-a-rather-long-prompt-to-push-the-command-past-the-edge $ "\r' \
    "printf '%s%s\\\\n' TAVRILO_SHELL_PROOF_ 0123456789ABCDEF0123456789ABCDEF\r" 'exit\r'; do
    printf '%b' "$keys"
    sleep 0.2
  done
}
type_keys | script -q -e -c 'stty cols 100 rows 30; PS1="$ " bash --norc -i' /dev/null >edited.log 2>/dev/null || true
