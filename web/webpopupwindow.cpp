#include "web/webpopupwindow.h"

#include "web/webpage.h"
#include "web/webview.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

WebPopupWindow::WebPopupWindow(QWebEngineProfile *profile)
    : QWidget(nullptr), m_view(new WebView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    setContextMenuPolicy(Qt::NoContextMenu);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    auto *page = new WebPage(profile, m_view);
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setFocus(Qt::OtherFocusReason);

    connect(page, &QWebEnginePage::titleChanged, this,
            [this, page] { setWindowTitle(page->title()); });
    connect(page, &QWebEnginePage::geometryChangeRequested, this,
            &WebPopupWindow::handleGeometryChangeRequested);
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);

    show();
}

namespace {
// round(n * 0.618) in exact decimal arithmetic, halves away from zero; floating point would
// turn e.g. 250 * 0.618 into 154.4999... and round the half down.
int goldenPart(int n)
{
    const qint64 thousandths = qint64(n) * 618;
    const qint64 magnitude = (qAbs(thousandths) * 2 + 1000) / 2000;
    return int(thousandths < 0 ? -magnitude : magnitude);
}
} // namespace

QSize WebPopupWindow::goldenSize(const QSize &available)
{
    return QSize(goldenPart(available.width()), goldenPart(available.height()));
}

QRect WebPopupWindow::geometryInsideFrame(const QRect &requested, const QMargins &frameMargins)
{
    return requested.marginsRemoved(frameMargins);
}

QSize WebPopupWindow::sizeHint() const
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QWidget::sizeHint();
    return goldenSize(screen->availableGeometry().size());
}

void WebPopupWindow::handleGeometryChangeRequested(const QRect &newGeometry)
{
    // The page describes the outer frame; without a native window the frame is unknown yet.
    if (QWindow *nativeWindow = windowHandle())
        setGeometry(geometryInsideFrame(newGeometry, nativeWindow->frameMargins()));
    show();
    m_view->setFocus(Qt::OtherFocusReason);
}
