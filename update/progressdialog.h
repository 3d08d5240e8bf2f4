#pragma once

#include <QProgressDialog>
#include <QUrl>

// The installer download's progress; a mandatory update clears canClose so it cannot be closed.
class ProgressDialog : public QProgressDialog
{
    Q_OBJECT
public:
    explicit ProgressDialog(const QUrl &url, QWidget *parent = nullptr);

    QSize sizeHint() const override;

    bool canClose = true;

public slots:
    void networkReplyProgress(qlonglong bytesRead, qlonglong totalBytes);
    // Escape ends here when there is no cancel button; a dialog that cannot close stays.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
};
