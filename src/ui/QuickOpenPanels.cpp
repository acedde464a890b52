#include "ui/QuickOpenPanels.h"

#include "core/async/Resumer.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQuickItem>

#include <coroutine>
#include <memory>

namespace
{
const QString kModuleFolder = QStringLiteral("qrc:/qt/qml/Tavrilo/Ui/qml/");

// Extensions, separated by spaces.
const QString kPdfExtensions = QStringLiteral("pdf");
const QString kTextExtensions = QStringLiteral("txt text md markdown rst log");
const QString kSourceExtensions =
    QStringLiteral("c h cc cpp cxx hh hpp hxx m mm swift rs go java kt kts scala cs fs "
                   "py rb php pl pm lua r dart js mjs cjs jsx ts tsx sh bash zsh sql qml");

// Name patterns match case-sensitively in the dialogs, and a document is read as a PDF whatever the
// case of its extension, so each extension is admitted in lower and in upper case.
QString filter(const char *name, const QString &extensions)
{
    QStringList globs;
    for (const QString &extension : extensions.split(QLatin1Char(' ')))
        globs << QStringLiteral("*.") + extension << QStringLiteral("*.") + extension.toUpper();
    return QStringLiteral("%1 (%2)").arg(QCoreApplication::translate("QuickOpenPanels", name),
                                         globs.join(QLatin1Char(' ')));
}

// Every kind together first, so the dialog starts out showing all the documents it admits.
QStringList documentFilters()
{
    const QString all = QStringList{kPdfExtensions, kTextExtensions, kSourceExtensions}.join(QLatin1Char(' '));
    return {filter("Documents", all), filter("PDF documents", kPdfExtensions), filter("Plain text", kTextExtensions),
            filter("Source code", kSourceExtensions)};
}

// The end of one open dialog: its `chosen` URL when it is accepted, none when it is rejected, closed
// or destroyed. The URL is read when the dialog is accepted, so a dialog destroyed before the waiter
// resumes still gives its answer.
class DialogEnding : public QObject
{
    Q_OBJECT

public:
    DialogEnding(QObject *dialog, const char *chosen) : m_chosen(chosen), m_ended(!dialog)
    {
        if (!dialog)
            return;
        connect(dialog, SIGNAL(accepted()), this, SLOT(accept()));
        connect(dialog, SIGNAL(rejected()), this, SLOT(end()));
        connect(dialog, &QObject::destroyed, this, &DialogEnding::end);
    }

    bool ended() const { return m_ended; }
    const std::optional<QUrl> &answer() const { return m_answer; }
    void wakeOnEnd(Resumer::Waker waker) { m_waker = std::move(waker); }

private Q_SLOTS:
    void accept()
    {
        const QUrl url = m_ended ? QUrl() : sender()->property(m_chosen).toUrl();
        if (!url.isEmpty())
            m_answer = url;
        end();
    }
    void end()
    {
        m_ended = true;
        m_waker.wake();
    }

private:
    const char *m_chosen;
    bool m_ended;
    std::optional<QUrl> m_answer;
    Resumer::Waker m_waker;
};

// Waits for a DialogEnding. Its connections end with the awaiter, and so with the waiting frame.
class DialogAnswer
{
public:
    DialogAnswer(QObject *dialog, const char *chosen) : m_ending(std::make_unique<DialogEnding>(dialog, chosen)) {}

    bool await_ready() const noexcept { return m_ending->ended(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_resumer.arm(handle);
        m_ending->wakeOnEnd(m_resumer.waker());
    }
    std::optional<QUrl> await_resume() const { return m_ending->answer(); }

private:
    std::unique_ptr<DialogEnding> m_ending;
    Resumer m_resumer;
};

// The dialog goes when its choice ends, or with the waiting frame should that be destroyed first
// (from wherever that happens, hence later).
struct DialogDisposal
{
    QPointer<QObject> dialog;
    ~DialogDisposal()
    {
        if (dialog)
            dialog->deleteLater();
    }
};

// Holds nothing of the panels, which may be gone by the time the dialog ends.
QCoro::Task<std::optional<QUrl>> answerOf(QPointer<QObject> dialog, const char *chosen)
{
    const DialogDisposal disposal{dialog};
    DialogAnswer answer(dialog, chosen);
    co_return co_await std::move(answer);
}
} // namespace

QuickOpenPanels::QuickOpenPanels(QQmlEngine *engine) : m_engine(engine) {}

QuickOpenPanels::~QuickOpenPanels()
{
    for (const QPointer<QObject> &dialog : std::exchange(m_dialogs, {}))
        delete dialog.data();
}

void QuickOpenPanels::setWindow(QQuickWindow *window)
{
    m_window = window;
}

QCoro::Task<std::optional<QUrl>> QuickOpenPanels::chooseFolder(QString message)
{
    return answerOf(open(QStringLiteral("FolderPanel.qml"), {{QStringLiteral("title"), message}}), "selectedFolder");
}

QCoro::Task<std::optional<QUrl>> QuickOpenPanels::chooseDocument()
{
    return answerOf(open(QStringLiteral("DocumentPanel.qml"), {{QStringLiteral("nameFilters"), documentFilters()}}),
                    "selectedFile");
}

QObject *QuickOpenPanels::open(const QString &file, const QVariantMap &properties)
{
    if (!m_engine || !m_window)
        return nullptr;
    QQmlComponent component(m_engine, QUrl(kModuleFolder + file));
    QObject *dialog = component.beginCreate(m_engine->rootContext());
    if (!dialog) {
        qWarning("The %s dialog could not be made: %s", qPrintable(file), qPrintable(component.errorString()));
        return nullptr;
    }
    // A child of the window's content, as a dialog declared in the window is: there it finds its
    // window when it is completed, and it is destroyed with the window.
    dialog->setParent(m_window->contentItem());
    component.setInitialProperties(dialog, properties);
    component.completeCreate();

    std::erase_if(m_dialogs, [](const QPointer<QObject> &d) { return d.isNull(); });
    m_dialogs.emplace_back(dialog);
    QMetaObject::invokeMethod(dialog, "open");
    // A dialog that could not be shown (its built-in form failed to load, say) never ends.
    if (!dialog->property("visible").toBool()) {
        delete dialog;
        return nullptr;
    }
    return dialog;
}

#include "QuickOpenPanels.moc"
