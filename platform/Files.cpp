#include "Files.h"

#include <QFileDialog>
#include <QProgressDialog>

namespace platform {

QString SystemFileChooser::SaveFileName(QWidget *parent, const QString &title)
{
    return QFileDialog::getSaveFileName(parent, title);
}

ByteSaver::ByteSaver(QByteArray bytes, const QString &path, QWidget *parent)
    : QObject(parent), bytes_(std::move(bytes)), file_(path), parent_(parent)
{
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &ByteSaver::WriteSlice);
}

ByteSaver::~ByteSaver() { delete progress_; }

void ByteSaver::Start()
{
    if (!file_.open(QIODevice::WriteOnly)) {
        Finish(false, file_.errorString());
        return;
    }
    if (bytes_.size() >= kProgressFromBytes) {
        progress_ = new QProgressDialog(tr("Saving received bytes…"), tr("Cancel"), 0, 100, parent_);
        progress_->setObjectName(QStringLiteral("SaveProgress"));
        progress_->setWindowModality(Qt::WindowModal);
        connect(progress_, &QProgressDialog::canceled, this, &ByteSaver::Cancel);
    }
    slices_.start();
}

void ByteSaver::Cancel()
{
    if (!slices_.isActive())
        return;
    file_.cancelWriting();
    Finish(false, {});
}

void ByteSaver::WriteSlice()
{
    const qsizetype n = std::min(kSliceBytes, bytes_.size() - written_);
    if (n > 0 && file_.write(bytes_.constData() + written_, n) != n) {
        file_.cancelWriting();
        Finish(false, file_.errorString());
        return;
    }
    written_ += n;
    if (progress_)
        progress_->setValue(int(written_ * 100 / std::max<qsizetype>(1, bytes_.size())));
    if (written_ < bytes_.size())
        return;
    if (!file_.commit()) {
        Finish(false, file_.errorString());
        return;
    }
    Finish(true, {});
}

void ByteSaver::Finish(bool ok, const QString &error)
{
    slices_.stop();
    if (progress_)
        progress_->hide();
    emit Finished(ok, error);
    deleteLater();
}

} // namespace platform
