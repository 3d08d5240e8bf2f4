#include "settings/syssettingwindow.h"

#include "platform/autostart.h"
#include "platform/proxyconfig.h"
#include "store/appsettings.h"
#include "store/settingsstore.h"
#include "ui_syssettingwindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMessageBox>
#include <QPointer>

#include <iterator>

namespace {

// A checkbox that is written through pendingChanges: its id, the field it stands for and
// where that field is stored.
struct CheckBinding
{
    int id;
    const char *objectName;
    bool AppSettings::*field;
    const char *group;
    const char *key;
};

const CheckBinding checkBindings[] = {
    {100, "chkAutoRun", &AppSettings::isAutoRun, "GeneralSettings", "isAutoRun"},
    {101, "chkEnableNotice", &AppSettings::isSysNotice, "GeneralSettings", "isSysNotice"},
    {102, "chkEnableNoticeVoice", &AppSettings::isSysNoticeVoice, "GeneralSettings",
     "isSysNoticeVoice"},
    {103, "chkEnableMutiTab", &AppSettings::isMultiTab, "GeneralSettings", "isMultiTab"},
    {104, "chkEnableBrowserAndMultiTab", &AppSettings::isBowserMultiTab, "GeneralSettings",
     "isBowserMultiTab"},
    {105, "chkEnableCompatible", &AppSettings::isCompatibility, "GeneralSettings",
     "isCompatibility"},
    {106, "chkExitOnClose", &AppSettings::isQuitWhenClose, "GeneralSettings", "isQuitWhenClose"},
    {501, "chkOpenSoftWare", &AppSettings::enableOpenSoftware, "ShortCutSettings",
     "enableOpenSoftware"},
    {503, "chkQuickSearch", &AppSettings::enableQuickSearch, "ShortCutSettings",
     "enableQuickSearch"},
    {800, "chkAllowSavePw", &AppSettings::allowSavePassword, "OtherSettings", "allowSavePassword"},
};

const CheckBinding *bindingForId(int id)
{
    for (const CheckBinding &b : checkBindings) {
        if (b.id == id)
            return &b;
    }
    return nullptr;
}

const CheckBinding *bindingForName(const QString &objectName)
{
    for (const CheckBinding &b : checkBindings) {
        if (objectName == QLatin1String(b.objectName))
            return &b;
    }
    return nullptr;
}

// Groups are written in this order, each at most once per Apply.
const char *const groupOrder[] = {"GeneralSettings",  "NetworkProxySettings",   "DownloadSettings",
                                  "ShortCutSettings", "SoftwareUpdateSettings", "OtherSettings"};

} // namespace

SysSettingWindow::SysSettingWindow(QWidget *parent, std::optional<Host> host)
    : QDialog(parent), ui(new Ui::SysSettingWindow), m_host(std::move(host))
{
    // The form makes hLayoutMain the dialog's own layout, so it fills the dialog.
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, true);

    proxyButtonGroup = new QButtonGroup(this);
    proxyButtonGroup->setExclusive(true);
    proxyButtonGroup->addButton(ui->radioNoUseProxy, 0);
    proxyButtonGroup->addButton(ui->radioUseBrowserSetting, 1);
    proxyButtonGroup->addButton(ui->radioManualConfig, 2);

    m_askDirectory = [](QWidget *parent, const QString &caption, const QString &dir) {
        // On the heap: the window may close this dialog, and with it the chooser, meanwhile.
        QPointer<QFileDialog> chooser = new QFileDialog(parent, caption, dir);
        chooser->setFileMode(QFileDialog::Directory);
        chooser->setOption(QFileDialog::ShowDirsOnly);
        const bool accepted = chooser->exec() == QDialog::Accepted;
        if (!chooser)
            return QString();
        const QString chosen = accepted ? chooser->selectedFiles().value(0) : QString();
        delete chooser.data();
        return chosen;
    };

    setTexts();
    nameControls();

    connect(ui->listSetting, &QListWidget::currentRowChanged, this,
            &SysSettingWindow::handlelistRowChanged);
    connect(ui->btnApply, &QPushButton::clicked, this, &SysSettingWindow::onButtonClicked);
    connect(ui->btnConfirm, &QPushButton::clicked, this, &SysSettingWindow::onButtonClicked);
    connect(proxyButtonGroup, qOverload<QAbstractButton *>(&QButtonGroup::buttonClicked), this,
            &SysSettingWindow::onNetworkProxyChecked);
    // Escape ends the dialog without a close event; the window must let go of it then too.
    connect(this, &QDialog::finished, this, &SysSettingWindow::ended);
    ui->lineEditOpenSoftKey->installEventFilter(this);

    loadValues();
}

SysSettingWindow::~SysSettingWindow()
{
    delete ui;
}

void SysSettingWindow::setTexts()
{
    setWindowTitle(tr("系统设置"));

    const QString categories[] = {tr("通用设置"), tr("网络代理"), tr("下载"), tr("隐私"),
                                  tr("热键"),     tr("软件更新"), tr("字体"), tr("其他")};
    for (int row = 0; row < ui->listSetting->count(); ++row) {
        QListWidgetItem *item = ui->listSetting->item(row);
        item->setText(categories[row]);
        item->setSizeHint(QSize(140, 22));
    }
    // Fonts are not configurable (yet): neither the category nor its page shows.
    ui->listSetting->item(6)->setHidden(true);
    ui->pageFont->hide();

    ui->labelTop->setText(tr("常用"));
    ui->labelVersion->setText(QStringLiteral(NORVA_VERSION));
    ui->btnCancel->setText(tr("取消"));
    ui->btnApply->setText(tr("应用"));
    ui->btnConfirm->setText(tr("确定"));

    ui->labelTitle->setText(tr("系统"));
    ui->chkAutoRun->setText(tr("开机自动启动"));
    ui->chkEnableNotice->setText(tr("启用消息通知"));
    ui->chkEnableNoticeVoice->setText(tr("启用消息通知声音"));
    ui->chkEnableMutiTab->setText(tr("启用多标签模式(重启软件后生效)"));
    ui->chkEnableBrowserAndMultiTab->setText(tr("启用浏览器和多标签模式(重启软件后生效)"));
    ui->chkEnableCompatible->setText(tr("启用兼容模式(重启软件后生效)"));
    ui->chkExitOnClose->setText(tr("关闭主窗口时退出软件"));

    ui->radioNoUseProxy->setText(tr("不使用代理"));
    ui->radioUseBrowserSetting->setText(tr("使用浏览器设置"));
    ui->radioManualConfig->setText(tr("手动配置"));
    // The web engine reads the proxy only when it starts.
    ui->labelProxyRestart->setText(tr("(重启软件后生效)"));
    ui->comboxProxyType->clear();
    ui->comboxProxyType->addItem(QStringLiteral("HTTP"));
    ui->comboxProxyType->addItem(QStringLiteral("SOCKS5"));
    ui->labelProxyPort->setText(tr("端口: "));
    ui->labelProxyUserName->setText(tr("用户名:"));
    ui->labelProxyPasswd->setText(tr("密码: "));

    ui->labelDownloadDir->setText(tr("下载目录"));
    ui->btnChooseDownloadDir->setToolTip(tr("请选择保存下载文件所在的目录文件夹"));

    ui->labelClearData->setText(tr("清除浏览数据"));
    ui->chkCookieSiteData->setText(tr("Cookie及网站数据"));
    ui->chkBrowsingHistory->setText(tr("浏览记录"));
    ui->chkCacheFile->setText(tr("缓存的图片和文件"));
    ui->btnClearBrowserData->setText(tr("清除浏览数据"));

    ui->labelGlobalShortcut->setText(tr("全局热键"));
    ui->labelOpenSoft->setText(tr("打开软件"));
    ui->labelQuickSearch->setText(tr("快捷搜索"));
    ui->lineEditOpenSoftKey->setToolTip(tr("请按下快捷键"));
    ui->lineEditQuickSearchKey->setToolTip(tr("请按下快捷键"));
    ui->chkOpenSoftWare->setText(tr("启用"));
    ui->chkQuickSearch->setText(tr("启用"));

    ui->labelUpdatePolicy->setText(tr("更新策略"));
    ui->radioNoCheckUpdate->setText(tr("不检查更新"));
    ui->radioNoticeUpdate->setText(tr("仅提示更新"));
    ui->radioAutoDownUpdate->setText(tr("自动下载并更新"));

    ui->labelAutoFill->setText(tr("自动填充选项"));
    ui->chkAllowSavePw->setText(tr("允许保存密码"));
    ui->labelLanguages->setText(tr("软件语言"));
    ui->comboxLanguages->setItemText(0, tr("自动检查"));
}

void SysSettingWindow::nameControls()
{
    // A field takes its spoken name from the label in front of it.
    ui->labelProxyPort->setBuddy(ui->lineEditProxyPort);
    ui->labelProxyUserName->setBuddy(ui->lineEditProxyUserName);
    ui->labelProxyPasswd->setBuddy(ui->lineEditProxyPasswd);
    ui->labelDownloadDir->setBuddy(ui->lineEditDownloadDir);
    ui->labelOpenSoft->setBuddy(ui->lineEditOpenSoftKey);
    ui->labelQuickSearch->setBuddy(ui->lineEditQuickSearchKey);
    ui->labelLanguages->setBuddy(ui->comboxLanguages);
    // On Linux a combo box is read out by its value and named by the label pointing at it. The
    // proxy type has no label on screen, so it gets one that only a screen reader sees.
    auto *proxyTypeLabel = new QLabel(tr("代理类型"), ui->pageNetwork);
    proxyTypeLabel->setObjectName(QStringLiteral("labelProxyType"));
    proxyTypeLabel->hide();
    proxyTypeLabel->setBuddy(ui->comboxProxyType);

    // Controls without a label of their own, or with a label that says too little; a combo
    // box is otherwise read out by its value.
    ui->listSetting->setAccessibleName(tr("设置类别"));
    ui->comboxProxyType->setAccessibleName(tr("代理类型"));
    ui->lineEditProxyHost->setAccessibleName(tr("代理服务器地址"));
    ui->comboxLanguages->setAccessibleName(tr("软件语言"));
    ui->btnChooseDownloadDir->setAccessibleName(tr("选择下载目录"));
    ui->chkOpenSoftWare->setAccessibleName(tr("启用打开软件热键"));
    ui->chkQuickSearch->setAccessibleName(tr("启用快捷搜索热键"));

    // Tab follows the pages as they read: left to right, then down. The form's own order goes
    // down the proxy and hotkey columns first.
    QWidget *const order[] = {ui->listSetting,
                              ui->chkAutoRun,
                              ui->chkEnableNotice,
                              ui->chkEnableNoticeVoice,
                              ui->chkEnableMutiTab,
                              ui->chkEnableBrowserAndMultiTab,
                              ui->chkEnableCompatible,
                              ui->chkExitOnClose,
                              ui->radioNoUseProxy,
                              ui->radioUseBrowserSetting,
                              ui->radioManualConfig,
                              ui->comboxProxyType,
                              ui->lineEditProxyHost,
                              ui->lineEditProxyPort,
                              ui->lineEditProxyUserName,
                              ui->lineEditProxyPasswd,
                              ui->lineEditDownloadDir,
                              ui->btnChooseDownloadDir,
                              ui->chkCookieSiteData,
                              ui->chkBrowsingHistory,
                              ui->chkCacheFile,
                              ui->btnClearBrowserData,
                              ui->lineEditOpenSoftKey,
                              ui->chkOpenSoftWare,
                              ui->lineEditQuickSearchKey,
                              ui->chkQuickSearch,
                              ui->radioNoCheckUpdate,
                              ui->radioNoticeUpdate,
                              ui->radioAutoDownUpdate,
                              ui->chkAllowSavePw,
                              ui->comboxLanguages,
                              ui->btnCancel,
                              ui->btnApply,
                              ui->btnConfirm};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void SysSettingWindow::loadValues()
{
    // Only a dialog of a window shows and edits the settings record.
    if (!m_host || !appSettings)
        return;
    const AppSettings &s = *appSettings;

    auto bindCheckBox = [this, &s](const char *objectName) {
        auto *box = findChild<QCheckBox *>(QLatin1String(objectName));
        const CheckBinding *binding = bindingForName(QLatin1String(objectName));
        if (!box || !binding)
            return;
        box->setChecked(s.*(binding->field));
        connect(box, &QCheckBox::clicked, this, &SysSettingWindow::onCheckBoxClicked);
    };
    for (const char *name :
         {"chkAutoRun", "chkEnableNotice", "chkEnableNoticeVoice", "chkEnableMutiTab",
          "chkEnableBrowserAndMultiTab", "chkEnableCompatible", "chkExitOnClose"})
        bindCheckBox(name);

    // Checked without a click: the manual fields stay disabled until the user picks a button.
    if (s.proxyMode == 0) {
        ui->radioNoUseProxy->setChecked(true);
    } else if (s.proxyMode == 1) {
        ui->radioUseBrowserSetting->setChecked(true);
    } else if (s.proxyMode == 2) {
        ui->radioManualConfig->setChecked(true);
        ui->comboxProxyType->setCurrentIndex(s.proxyType);
        ui->lineEditProxyHost->setText(s.proxyHost);
        ui->lineEditProxyPort->setText(QString::number(s.proxyPort));
        ui->lineEditProxyUserName->setText(s.proxyUsername);
        ui->lineEditProxyPasswd->setText(s.proxyPassword);
    }

    ui->lineEditDownloadDir->setText(s.downloadPath);
    connect(ui->btnChooseDownloadDir, &QPushButton::released, this,
            &SysSettingWindow::chooseDownloadDir);
    connect(ui->btnClearBrowserData, &QPushButton::released, this,
            &SysSettingWindow::clearBrowserData);

    ui->lineEditOpenSoftKey->setText(s.openSoftware);
    ui->lineEditQuickSearchKey->setText(s.quickSearch);
    bindCheckBox("chkOpenSoftWare");
    bindCheckBox("chkQuickSearch");

    if (s.updateMode == 0)
        ui->radioNoCheckUpdate->setChecked(true);
    else if (s.updateMode == 1)
        ui->radioNoticeUpdate->setChecked(true);
    else if (s.updateMode == 2)
        ui->radioAutoDownUpdate->setChecked(true);

    bindCheckBox("chkAllowSavePw");
    ui->comboxLanguages->setCurrentIndex(s.currentLang);
}

void SysSettingWindow::on_btnCancel_clicked()
{
    close();
}

void SysSettingWindow::handlelistRowChanged(int nRow)
{
    if (QListWidgetItem *item = ui->listSetting->item(nRow))
        ui->labelTop->setText(item->text());
    ui->stackedSelect->setCurrentIndex(nRow);
}

void SysSettingWindow::onNetworkProxyChecked(QAbstractButton *button)
{
    const bool manual = button && button->objectName() == ui->radioManualConfig->objectName();
    ui->comboxProxyType->setEnabled(manual);
    ui->lineEditProxyHost->setEnabled(manual);
    ui->lineEditProxyPort->setEnabled(manual);
    ui->lineEditProxyUserName->setEnabled(manual);
    ui->lineEditProxyPasswd->setEnabled(manual);
}

void SysSettingWindow::onCheckBoxClicked(bool bChecked)
{
    const CheckBinding *binding = sender() ? bindingForName(sender()->objectName()) : nullptr;
    if (!binding)
        return;
    // A second click restores the loaded state, so nothing is left to write.
    if (pendingChanges.contains(binding->id))
        pendingChanges.remove(binding->id);
    else
        pendingChanges.insert(binding->id, bChecked);
}

void SysSettingWindow::onButtonClicked()
{
    QObject *source = sender();
    if (source != ui->btnApply && source != ui->btnConfirm)
        return;

    if (appSettings) {
        AppSettings &s = *appSettings;
        QMap<QString, QVariantMap> changes;
        auto record = [&changes](const char *group, const char *key, const QVariant &value) {
            changes[QLatin1String(group)].insert(QLatin1String(key), value);
        };

        for (auto it = pendingChanges.constBegin(); it != pendingChanges.constEnd(); ++it) {
            const CheckBinding *binding = bindingForId(it.key());
            if (!binding)
                continue;
            s.*(binding->field) = it.value().toBool();
            record(binding->group, binding->key, it.value().toBool());
        }

        // Writes a value that differs into the record and the group's change list.
        auto update = [&record](auto &field, const auto &value, const char *group,
                                const char *key) {
            if (field == value)
                return false;
            field = value;
            record(group, key, value);
            return true;
        };
        const char *proxy = "NetworkProxySettings";
        const int proxyMode = proxyButtonGroup->checkedId();
        update(s.proxyMode, proxyMode, proxy, "proxyMode");
        if (proxyMode == 2) {
            update(s.proxyType, ui->comboxProxyType->currentIndex(), proxy, "proxyType");
            update(s.proxyHost, ui->lineEditProxyHost->text().trimmed(), proxy, "proxyHost");
            // Text that is no number gives 0.
            update(s.proxyPort, ui->lineEditProxyPort->text().toInt(nullptr, 10), proxy,
                   "proxyPort");
            update(s.proxyUsername, ui->lineEditProxyUserName->text().trimmed(), proxy,
                   "proxyUsername");
            update(s.proxyPassword, ui->lineEditProxyPasswd->text().trimmed(), proxy,
                   "proxyPassword");
        }
        update(s.downloadPath, ui->lineEditDownloadDir->text(), "DownloadSettings", "downloadPath");
        update(s.openSoftware, ui->lineEditOpenSoftKey->text(), "ShortCutSettings", "openSoftware");
        update(s.quickSearch, ui->lineEditQuickSearchKey->text(), "ShortCutSettings",
               "quickSearch");
        const int updateMode = ui->radioNoCheckUpdate->isChecked()  ? 0
                               : ui->radioNoticeUpdate->isChecked() ? 1
                                                                    : 2;
        update(s.updateMode, updateMode, "SoftwareUpdateSettings", "updateMode");
        update(s.currentLang, ui->comboxLanguages->currentIndex(), "OtherSettings", "currentLang");

        const bool hostSaves = m_host && m_host->saveSettingsGroup;
        bool saved = true;
        for (const char *group : groupOrder) {
            const QVariantMap values = changes.value(QLatin1String(group));
            if (values.isEmpty())
                continue;
            saved &= hostSaves ? m_host->saveSettingsGroup(values, QLatin1String(group))
                               : SettingsStore::saveGroup(values, QLatin1String(group));
        }
        // The client's own requests follow the new proxy at once; the web engine at the next
        // start.
        if (changes.contains(QLatin1String("NetworkProxySettings")))
            ProxyConfig::fromSettings(s).apply();
        // Made to match after every Apply, also when the box was not touched; the box goes to
        // the main window, which outlives a confirmed dialog.
        applyAutoStart(s.isAutoRun, parentWidget() ? parentWidget()->window() : this);
        // The record already holds the changes; the user must know they end with this run.
        if (!saved) {
            // On the heap: the window may close this dialog while the box is open.
            QPointer<QMessageBox> box = new QMessageBox(
                QMessageBox::Warning, tr("设置"), tr("设置无法保存，重启软件后这些修改将会丢失。"),
                QMessageBox::Ok, this);
            QPointer<SysSettingWindow> self(this);
            box->exec();
            delete box.data();
            if (!self)
                return;
        }
    }

    pendingChanges.clear();
    if (source == ui->btnConfirm)
        close();
}

QMessageBox *SysSettingWindow::applyAutoStart(bool enabled, QWidget *parent)
{
    static bool reported = false;
    if (AutoStart::apply(enabled) || reported)
        return nullptr;
    reported = true;
    auto *box = new QMessageBox(QMessageBox::Warning, tr("设置"),
                                enabled ? tr("无法设置开机自动启动，软件不会随系统启动。")
                                        : tr("无法取消开机自动启动，软件仍会随系统启动。"),
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

std::optional<QString> SysSettingWindow::capturedShortcut(int key, Qt::KeyboardModifiers modifiers,
                                                          const QString &text)
{
    const QString keyText = QKeySequence(key).toString(QKeySequence::NativeText);
    if (modifiers != Qt::NoModifier) {
        // A modifier alone, or a key the platform gives no text for.
        if (text.isEmpty())
            return QString();
        if (keyText.isEmpty())
            return std::nullopt;
    }
    QString prefix;
    if (modifiers & Qt::ControlModifier)
        prefix += QKeySequence(Qt::CTRL).toString(QKeySequence::NativeText);
    if (modifiers & Qt::ShiftModifier)
        prefix += QKeySequence(Qt::SHIFT).toString(QKeySequence::NativeText);
    if (modifiers & Qt::AltModifier)
        prefix += QKeySequence(Qt::ALT).toString(QKeySequence::NativeText);
    return prefix + keyText;
}

void SysSettingWindow::keyPressEvent(QKeyEvent *event)
{
    if (!ui->lineEditOpenSoftKey->hasFocus()) {
        QDialog::keyPressEvent(event);
        return;
    }
    const std::optional<QString> text =
        capturedShortcut(event->key(), event->modifiers(), event->text());
    if (text)
        ui->lineEditOpenSoftKey->setText(*text);
}

bool SysSettingWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The read-only field would keep keys such as arrows or Ctrl+A for itself; every key except
    // plain focus movement is captured instead.
    if (watched == ui->lineEditOpenSoftKey &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        const bool focusMove =
            (keyEvent->key() == Qt::Key_Tab || keyEvent->key() == Qt::Key_Backtab) &&
            !(keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (!focusMove) {
            if (event->type() == QEvent::ShortcutOverride)
                event->accept();
            else
                keyPressEvent(keyEvent);
            return event->type() == QEvent::KeyPress;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SysSettingWindow::chooseDownloadDir()
{
    const QString current = ui->lineEditDownloadDir->text();
    QPointer<SysSettingWindow> self(this);
    const QString chosen = QDir::toNativeSeparators(
        m_askDirectory ? m_askDirectory(this, tr("选择文件夹"), current) : QString());
    if (!self)
        return;
    if (!chosen.isEmpty() && chosen != current)
        ui->lineEditDownloadDir->setText(chosen);
}

void SysSettingWindow::clearBrowserData()
{
    if (!m_host || !m_host->clearBrowsingData)
        return;
    if (m_host->clearBrowsingData(ui->chkCookieSiteData->isChecked(),
                                  ui->chkBrowsingHistory->isChecked(),
                                  ui->chkCacheFile->isChecked())) {
        // On the heap, for the same reason as the folder chooser.
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, tr("清除浏览数据"),
                                                    tr("清除成功！"), QMessageBox::Ok, this);
        box->exec();
        delete box.data();
    }
}

void SysSettingWindow::closeEvent(QCloseEvent *event)
{
    emit ended();
    event->accept();
}
