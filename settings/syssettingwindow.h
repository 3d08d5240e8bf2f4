#pragma once

#include <QDialog>
#include <QMap>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

class QAbstractButton;
class QButtonGroup;

namespace Ui {
class SysSettingWindow;
}

// The system settings dialog: categories on the left, one page each on the right. Changes are
// collected until Apply or Confirm and then written group by group. Deletes itself when closed.
class QMessageBox;

class SysSettingWindow : public QDialog
{
    Q_OBJECT
public:
    // What the dialog asks of the window that opened it.
    struct Host
    {
        // Writes one group (values, group); false when it could not be stored.
        std::function<bool(const QVariantMap &, const QString &)> saveSettingsGroup;
        // (cacheAndCookies, visitedLinks, cacheDirectory); true when something was cleared.
        std::function<bool(bool, bool, bool)> clearBrowsingData;
    };

    // Without a host the fields do not show the settings record and Apply writes straight to
    // the settings store.
    explicit SysSettingWindow(QWidget *parent = nullptr, std::optional<Host> host = std::nullopt);
    ~SysSettingWindow() override;

    QButtonGroup *proxyGroup() const { return proxyButtonGroup; }
    QMap<int, QVariant> pending() const { return pendingChanges; }

    // The text the open-software key field takes for a key press, or nothing when the field
    // keeps its text. An empty text clears the field.
    static std::optional<QString> capturedShortcut(int key, Qt::KeyboardModifiers modifiers,
                                                   const QString &text);

    // Makes the autostart entry match the setting. The first failure of the run is told in a
    // window-modal box on parent, which deletes itself; answers that box, null otherwise.
    static QMessageBox *applyAutoStart(bool enabled, QWidget *parent);

    // Asks for a directory (parent, caption, start); empty means cancelled. The platform's
    // directory chooser unless replaced (tests do).
    using DirectoryAsker = std::function<QString(QWidget *, const QString &, const QString &)>;
    void setDirectoryAsker(DirectoryAsker asker) { m_askDirectory = std::move(asker); }

signals:
    // Closed, or ended by Escape without a close event; the window lets go of the dialog.
    void ended();

public slots:
    void on_btnCancel_clicked();
    void handlelistRowChanged(int nRow);
    void onNetworkProxyChecked(QAbstractButton *button);
    void onCheckBoxClicked(bool bChecked = false);
    void onButtonClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setTexts();
    // Spoken names and the keyboard order.
    void nameControls();
    void loadValues();
    void chooseDownloadDir();
    void clearBrowserData();

    Ui::SysSettingWindow *ui;
    // Ids 0 no proxy, 1 the system's setting, 2 manual.
    QButtonGroup *proxyButtonGroup = nullptr;
    // Checkbox id -> new checked state, waiting for Apply.
    QMap<int, QVariant> pendingChanges;
    DirectoryAsker m_askDirectory;
    std::optional<Host> m_host;
};
