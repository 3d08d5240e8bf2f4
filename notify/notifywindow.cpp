#include "notify/notifywindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#ifndef Q_OS_WIN
#include <QX11Info>
#endif

QMap<int, QString> NotifyWindow::typeNames;

namespace {

const int FadeDuration = 500;
const int MeasurePixelSize = 14;

const char *const CaptionStyle =
    "height: 16px;opacity: 1;font-size: 16px;font-family: OPPOSans, OPPOSans-Bold;"
    "font-weight: 700;text-align: LEFT;color: #ff9900;line-height: 16px;";
const char *const TaskCaptionStyle =
    "height: 16px;opacity: 1;font-size: 16px;font-family: OPPOSans, OPPOSans-Bold;"
    "font-weight: 700;text-align: LEFT;color: #3a78f6;line-height: 16px;";
const char *const TitleStyle =
    "font-size: 14px;font-family: OPPOSans, OPPOSans-Medium;font-weight: 500;"
    "text-align: LEFT;color: #14142b;line-height: 20px;";
const char *const ContentStyle =
    "border: none;font-size: 14px;font-family: OPPOSans, OPPOSans-Medium;font-weight: 400;"
    "text-align: LEFT;color: #6e7491;line-height: 16px;";
const char *const ViewDetailStyle =
    "width: 78px;height: 28px;opacity: 1;border-radius: 10px;font-size: 14px;"
    "font-family: OPPOSans, OPPOSans-Medium;font-weight: 500;text-align: CENTER;"
    "color: #3a78f6;line-height: 16px;";
const char *const RejectStyle =
    "width: 78px;height: 28px;opacity: 1;border: 1px solid #3a78f6;border-radius: 10px;"
    "font-size: 14px;font-family: OPPOSans, OPPOSans-Medium;font-weight: 500;"
    "text-align: CENTER;color: #3a78f6;line-height: 16px;";
const char *const KnownStyle =
    "width: 77px;height: 28px;opacity: 1;background: #3a78f6;border-radius: 10px;"
    "font-size: 14px;font-family: OPPOSans, OPPOSans-Medium;font-weight: 500;"
    "text-align: CENTER;color: #ffffff;line-height: 16px;";

QFontMetrics measuredAt14(const QLabel *label)
{
    QFont font = label->font();
    font.setPixelSize(MeasurePixelSize);
    return QFontMetrics(font);
}

// The popup is an alert to assistive technology, not a plain window: screen readers speak an
// alert's name and description the moment it shows.
QAccessibleInterface *popupAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("NotifyWindow") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::AlertMessage);
    return nullptr;
}

} // namespace

NotifyWindow::NotifyWindow(int stayTime, int type, QWidget *parent)
    : QWidget(parent), stayTime(stayTime), type(type)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(popupAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    // A notice must not take the keyboard from what the user is typing; see takeFocus.
    setAttribute(Qt::WA_ShowWithoutActivating);

    bkground = new QLabel(this);
    bkground->move(0, 0);
    bkground->setObjectName(QStringLiteral("notifyBkground"));
    auto *mainLayout = new QVBoxLayout(bkground);
    mainLayout->setObjectName(QStringLiteral("mainLayout"));

    typeLabel = new QLabel(tr("日程邀请"), bkground);
    typeLabel->setObjectName(QStringLiteral("notifyType"));
    timeLabel = new QLabel(tr("15分钟后"), bkground);
    timeLabel->setObjectName(QStringLiteral("notifyTime"));
    timeLabel->hide();
    auto *headerRow = new QHBoxLayout;
    headerRow->setContentsMargins(2, 0, 20, 0);
    headerRow->addWidget(typeLabel);
    headerRow->addStretch();
    headerRow->addWidget(timeLabel);

    titleLabel = new QLabel(bkground);
    titleLabel->setObjectName(QStringLiteral("notifyTitle"));
    titleLabel->setFixedWidth(308);
    titleLabel->setMaximumWidth(308);
    auto *titleHLayout = new QHBoxLayout;
    titleHLayout->setObjectName(QStringLiteral("titleHLayout"));
    titleHLayout->addWidget(titleLabel);

    iconLabel = new QLabel(bkground);
    iconLabel->setFixedSize(14, 14);
    contentLabel = new QLabel(bkground);
    contentLabel->setObjectName(QStringLiteral("notifyContent"));
    contentLabel->setFixedWidth(290);
    contentLabel->setMaximumWidth(290);
    auto *contentRow = new QHBoxLayout;
    contentRow->setSpacing(8);
    contentRow->addWidget(iconLabel);
    contentRow->addWidget(contentLabel);

    auto *contentLayout = new QVBoxLayout;
    contentLayout->setObjectName(QStringLiteral("contentLayout"));
    contentLayout->setSpacing(2);
    contentLayout->addLayout(headerRow, 1);
    contentLayout->addLayout(titleHLayout, 3);
    contentLayout->addLayout(contentRow, 1);
    auto *middleLayout = new QHBoxLayout;
    middleLayout->setObjectName(QStringLiteral("middleLayout"));
    middleLayout->addLayout(contentLayout);

    btnViewDetail = new QPushButton(tr("查看详情"), bkground);
    btnViewDetail->setObjectName(QStringLiteral("notifyBtnViewDetail"));
    btnReject = new QPushButton(tr("拒绝"), bkground);
    btnReject->setObjectName(QStringLiteral("notifyBtnReject"));
    btnReject->hide();
    btnKnown = new QPushButton(tr("知道啦"), bkground);
    btnKnown->setObjectName(QStringLiteral("notifyBtnKnown"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(2, 4, 10, 6);
    buttonRow->addStretch();
    for (QPushButton *button : {btnViewDetail, btnReject, btnKnown}) {
        button->setFixedSize(78, 28);
        buttonRow->addWidget(button);
    }

    mainLayout->addLayout(middleLayout, 8);
    mainLayout->addLayout(buttonRow, 1);

    setStyleSheet(tr("#%1 {opacity: 1;border-radius: 16px;background: #ffffff;}")
                      .arg(QStringLiteral("notifyBkground")));
    typeLabel->setStyleSheet(QLatin1String(CaptionStyle));
    timeLabel->setStyleSheet(QLatin1String(CaptionStyle));
    titleLabel->setStyleSheet(QLatin1String(TitleStyle));
    contentLabel->setStyleSheet(QLatin1String(ContentStyle));
    btnViewDetail->setStyleSheet(QLatin1String(ViewDetailStyle));
    btnReject->setStyleSheet(QLatin1String(RejectStyle));
    btnKnown->setStyleSheet(QLatin1String(KnownStyle));

    connect(btnViewDetail, &QPushButton::clicked, this, &NotifyWindow::viewDetail);

    typeLabel->setText(typeNames.value(type));

    QString iconPath = QStringLiteral(":schedule.png");
    switch (type) {
    case 0:
        iconPath = QStringLiteral(":task.png");
        typeLabel->setStyleSheet(QLatin1String(TaskCaptionStyle));
        connect(btnKnown, &QPushButton::clicked, this, &NotifyWindow::acknowledge);
        break;
    case 1:
        timeLabel->show();
        connect(btnKnown, &QPushButton::clicked, this, &NotifyWindow::acknowledge);
        break;
    case 2:
        btnKnown->setText(tr("接受"));
        btnReject->show();
        connect(btnKnown, &QPushButton::clicked, this, [this] { answerSchedule(true); });
        connect(btnReject, &QPushButton::clicked, this, [this] { answerSchedule(false); });
        break;
    default:
        // Unknown kinds still carry a notifyId the page wants back, so "知道啦" acknowledges.
        connect(btnKnown, &QPushButton::clicked, this, &NotifyWindow::acknowledge);
        break;
    }
    // Drawn from the 32-pixel artwork at the screen's own density, so it stays sharp scaled.
    const qreal ratio = devicePixelRatioF();
    QPixmap icon = QPixmap(iconPath).scaled(QSize(14, 14) * ratio, Qt::KeepAspectRatio,
                                            Qt::FastTransformation);
    icon.setDevicePixelRatio(ratio);
    iconLabel->setPixmap(icon);

    stayTimer = new QTimer(this);
    stayTimer->setSingleShot(true);
    connect(stayTimer, &QTimer::timeout, this, &NotifyWindow::fadeOut);
}

NotifyWindow::~NotifyWindow() = default;

void NotifyWindow::initTypeNames()
{
    typeNames[0] = tr("任务提醒");
    typeNames[1] = tr("日程提醒");
    typeNames[2] = tr("日程邀请");
}

QRegion NotifyWindow::roundedShape(const QSize &size, int radius)
{
    QPainterPath outline;
    outline.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    return QRegion(outline.toFillPolygon().toPolygon());
}

bool NotifyWindow::needsShapeMask()
{
#ifdef Q_OS_WIN
    return false; // the desktop always composes translucent windows
#else
    return QX11Info::isPlatformX11() && !QX11Info::isCompositingManagerRunning();
#endif
}

void NotifyWindow::paintEvent(QPaintEvent *event)
{
    // Without a compositor a pixel the panel covers only in part (its anti-aliased rim, in
    // device pixels) comes out dark. Under the shape mask the whole window is opaque white
    // instead, so the mask alone draws the outline, at any scale factor.
    if (!mask().isEmpty()) {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
    }
    QWidget::paintEvent(event);
}

void NotifyWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (needsShapeMask())
        setMask(roundedShape(size(), CornerRadius));
}

QString NotifyWindow::composeTitle(int type, const QString &title, const QString &content)
{
    if (type == 1) {
        const int close = title.indexOf(QStringLiteral("」"));
        const QString head = close < 0 ? QString() : title.left(close + 1);
        return head + tr("提醒你 ") + content;
    }
    if (type == 2)
        return title + QLatin1Char(' ') + content;
    return title;
}

QString NotifyWindow::twoLineTitle(const QString &title, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(title) <= width)
        return title;
    QString first = metrics.elidedText(title, Qt::ElideRight, width);
    first.chop(3);
    // Never leave half of a surrogate pair at the end of the first line.
    if (!first.isEmpty() && first.at(first.size() - 1).isHighSurrogate())
        first.chop(1);
    const QString second =
        metrics.elidedText(title.mid(first.size()), Qt::ElideRight, width - MeasurePixelSize);
    return first + QLatin1Char('\n') + second;
}

void NotifyWindow::showNotify()
{
    QString contentLine = content;
    if (type == 1 || type == 2) {
        title = composeTitle(type, title, content);
        contentLine = endTime;
    }
    // Before it shows: a screen reader reads an alert out as it appears, by these two.
    const QString caption = typeNames.value(type);
    setAccessibleName(caption.isEmpty() ? title : caption + QLatin1String(": ") + title);
    setAccessibleDescription(contentLine);

    setWindowOpacity(0.0);
    show();
    bkground->setFixedSize(size());

    if (type == 1)
        timeLabel->setText(startTime.isEmpty() ? QString() : startTime + tr("后"));
    contentLabel->setText(
        measuredAt14(contentLabel).elidedText(contentLine, Qt::ElideRight, contentLabel->width()));
    titleLabel->setText(twoLineTitle(title, measuredAt14(titleLabel), titleLabel->width()));

    // Windows' screen readers and sounds take the alert event; AT-SPI takes the showing alert.
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);

    auto *animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(FadeDuration);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    connect(animation, &QPropertyAnimation::finished, this, &NotifyWindow::startStay);
    fadeInAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void NotifyWindow::startStay()
{
    // A popup the user works in with the keyboard waits for the user.
    if (!gone && !isActiveWindow())
        stayTimer->start(stayTime);
}

void NotifyWindow::takeFocus()
{
    if (gone)
        return;
    raise();
    activateWindow();
    const QList<QPushButton *> buttons = {btnViewDetail, btnReject, btnKnown};
    for (QPushButton *button : buttons) {
        if (!button->isHidden()) {
            button->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

void NotifyWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || gone)
        return;
    if (isActiveWindow())
        stayTimer->stop();
    else if (!fadeInAnimation && !stayTimer->isActive() && windowOpacity() > 0.99)
        stayTimer->start(stayTime); // the user has left it: it goes as the others do
}

void NotifyWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        fadeOut();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            button->click();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void NotifyWindow::fadeOut()
{
    // Once the popup has reported itself gone, a late timer or click must not report again.
    if (gone)
        return;
    stayTimer->stop();
    if (fadeInAnimation)
        fadeInAnimation->stop(); // stopped, not finished: the stay timer is never armed

    auto *animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(FadeDuration);
    animation->setStartValue(windowOpacity());
    animation->setEndValue(0.0);
    connect(animation, &QPropertyAnimation::finished, this, [this] {
        if (gone)
            return;
        gone = true;
        hide();
        emit disappear();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool NotifyWindow::deliver(NoticeAnswer::Kind kind)
{
    NoticeAnswer answer;
    answer.kind = kind;
    answer.source = source;
    answer.busicId = busicId;
    answer.notifyId = notifyId;
    answer.noticeJson = noticeJson;
    return answerRelay && answerRelay(answer);
}

void NotifyWindow::viewDetail()
{
    deliver(NoticeAnswer::Detail);
    fadeOut();
}

void NotifyWindow::acknowledge()
{
    deliver(NoticeAnswer::Read);
    fadeOut();
}

void NotifyWindow::answerSchedule(bool accept)
{
    QPointer<NotifyWindow> self(this);
    const bool delivered = deliver(accept ? NoticeAnswer::Accept : NoticeAnswer::Reject);
    if (!self)
        return;
    if (delivered) {
        fadeOut();
        return;
    }
    // Nobody received the answer: the invitation stays, for its whole stay time again, instead
    // of closing as if it had been answered.
    if (stayTimer->isActive())
        stayTimer->start(stayTime);
}

void NotifyWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        fadeOut();
    event->accept();
}
