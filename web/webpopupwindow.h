#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QWidget>

class QWebEngineProfile;
class WebView;

// A plain top-level window showing one web view: a page's dialog window, or a new tab that no
// tab widget can take. Deletes itself when closed.
class WebPopupWindow : public QWidget
{
    Q_OBJECT
public:
    explicit WebPopupWindow(QWebEngineProfile *profile);

    WebView *view() const { return m_view; }
    QSize sizeHint() const override;

    // 0.618 of the available screen area in each direction, halves rounded away from zero.
    static QSize goldenSize(const QSize &available);
    // The widget geometry that makes a window with the given frame margins fill the requested
    // outer rectangle.
    static QRect geometryInsideFrame(const QRect &requested, const QMargins &frameMargins);

private slots:
    void handleGeometryChangeRequested(const QRect &newGeometry);

private:
    WebView *m_view;
};
