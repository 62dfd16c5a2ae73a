#include "shell/OpenRequests.h"

#include "shell/MainController.h"

#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "toolkit/LFAlert.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace lf {

namespace {

// How much of a URL from outside goes into the log.
constexpr int kLoggedUrlLength = 80;

// The Open dialog: several image files from the home folder, no folders.
QStringList chooseImages(QWidget *parent) {
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    const QString filter
        = QStringLiteral("%1 (%2)").arg(localizedString("[ImageFiles]"), patterns.join(QLatin1Char(' ')));
    return QFileDialog::getOpenFileNames(parent,
        localizedString("[MenuOpen]").remove(QLatin1Char('&')).remove(QStringLiteral("…")),
        QStandardPaths::writableLocation(QStandardPaths::HomeLocation), filter);
}

} // namespace

OpenRequests::OpenRequests(QWidget *window, MainController *controller, Hooks hooks, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_controller(controller)
    , m_hooks(std::move(hooks)) { }

void OpenRequests::open(const QStringList &urlsOrPaths) {
    QStringList files;
    for (const QString &item : urlsOrPaths) {
        if (item.startsWith(QLatin1String("lanternfish:"), Qt::CaseInsensitive)) {
            getUrl(item);
            continue;
        }
        const QUrl url(item);
        files.append(url.isLocalFile() ? url.toLocalFile() : item);
    }
    if (!files.isEmpty())
        openFiles(files);
}

void OpenRequests::openFiles(const QStringList &paths) {
    m_hooks.showWindow();
    safeDropFiles(paths);
}

void OpenRequests::safeDropFiles(const QStringList &paths) {
    if (m_hooks.canDropNow())
        m_controller->dropFiles(paths);
    else
        Prefs::setPref(paths, QLatin1String(PrefKey::PendingFiles));
}

void OpenRequests::getUrl(const QString &url) {
    QString rest = url;
    if (rest.startsWith(QLatin1String(kUrlScheme), Qt::CaseInsensitive))
        rest = rest.mid(int(qstrlen(kUrlScheme)));
    else
        rest = rest.section(QLatin1Char(':'), 1);
    static const QString kShare = QStringLiteral("#share");
    if (rest.endsWith(kShare)) {
        // Outside input: only an existing regular file is taken, and only to be read.
        const QString path = QUrl::fromPercentEncoding(rest.chopped(kShare.size()).toUtf8());
        const QFileInfo info(path);
        if (!info.isAbsolute() || !info.exists() || !info.isFile()) {
            qCWarning(lfUi) << "a shared path that is not a file was ignored";
            reportUnsharablePath(path);
            return;
        }
        m_hooks.showWindow();
        safeDropFiles({info.absoluteFilePath()});
    } else if (rest.startsWith(QLatin1String("callback"))) {
        // A flow's callback counts only inside the web view that runs it; from outside it could
        // sign anyone in. Only the target is logged: the rest may carry a token.
        qCWarning(lfUi).noquote() << "a callback from outside was dropped:"
                                  << rest.section(QLatin1Char('?'), 0, 0).left(kLoggedUrlLength);
    } else if (rest.startsWith(QLatin1String("photoDrawer"))) {
        NotificationCenter::defaultCenter().post(QLatin1String(MainController::kTogglePhotoPalette), rest);
    } else {
        // Any web page can send one of these: no alert, or a page could pile them up.
        qCInfo(lfUi).noquote() << "an unknown lanternfish: URL was ignored:" << url.left(kLoggedUrlLength);
    }
}

void OpenRequests::reportUnsharablePath(const QString &path) {
    m_unsharablePaths.append(path);
    if (m_unsharablePaths.size() > 1)
        return;
    // The URLs of one hand-over arrive one after another: one balloon once they are all in.
    QTimer::singleShot(0, this, [this] {
        const QStringList paths = std::exchange(m_unsharablePaths, {});
        if (paths.isEmpty() || !m_window)
            return;
        const QString first = QFontMetrics(m_window->font()).elidedText(paths.first(), Qt::ElideMiddle, 400);
        const QString text = paths.size() == 1
            ? localizedFormat(QStringLiteral("[NotAFile]"), {first})
            : localizedFormat(QStringLiteral("[NotFiles]"), {first, QString::number(paths.size() - 1)});
        LFAlert::alertWithString(text, m_window);
    });
}

void OpenRequests::doOpen() {
    m_hooks.showWindow();
    const QStringList paths = m_fileChooser ? m_fileChooser() : chooseImages(m_window);
    if (!paths.isEmpty())
        m_controller->dropFiles(paths);
}

} // namespace lf
