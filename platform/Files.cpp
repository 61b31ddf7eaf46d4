#include "Files.h"

#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>

#include <cerrno>

namespace platform {

QString SystemFileChooser::SaveFileName(QWidget *parent, const QString &title, Existing existing)
{
    return SaveFileName(parent, title, existing, {});
}

QString SystemFileChooser::SaveFileName(QWidget *parent, const QString &title, Existing existing,
                                        const QStringList &types)
{
    QString chosen;
    QString path = QFileDialog::getSaveFileName(parent, title, {}, types.join(QStringLiteral(";;")), &chosen,
                                                existing == Existing::Any ? QFileDialog::DontConfirmOverwrite
                                                                          : QFileDialog::Options());
    // "(*.pcapng)": the extension a bare name takes.
    const qsizetype star = chosen.indexOf(QStringLiteral("*."));
    if (!path.isEmpty() && star >= 0 && QFileInfo(path).suffix().isEmpty()) {
        const QString ext = chosen.mid(star + 1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(')'));
        path += ext;
    }
    return path;
}

ByteSaver::ByteSaver(ByteStore bytes, const QString &path, QWidget *parent)
    : QObject(parent), bytes_(std::move(bytes)), file_(path), parent_(parent)
{
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &ByteSaver::WriteSlice);
}

ByteSaver::~ByteSaver() { delete progress_; }

void ByteSaver::Start()
{
    // A device, pipe or folder is never replaced by the saved file.
    if (const QString refused = NotARegularFile(file_.fileName()); !refused.isEmpty()) {
        Finish(false, refused);
        return;
    }
    if (!file_.open(QIODevice::WriteOnly)) {
        Finish(false, FailureReason(file_, errno));
        return;
    }
    if (bytes_.Size() >= kProgressFromBytes) {
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
    const qsizetype n = std::min(kSliceBytes, bytes_.Size() - written_);
    bool ok = true;
    bytes_.ForEachPiece(bytes_.Begin() + written_, n, [&](const char *p, qsizetype length) {
        ok = ok && file_.write(p, length) == length;
    });
    if (!ok) {
        const QString reason = FailureReason(file_, errno);
        file_.cancelWriting();
        Finish(false, reason);
        return;
    }
    written_ += n;
    if (progress_)
        progress_->setValue(int(written_ * 100 / std::max<qsizetype>(1, bytes_.Size())));
    if (written_ < bytes_.Size())
        return;
    if (!file_.commit()) {
        Finish(false, FailureReason(file_, errno));
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
