#pragma once
// Files the user asks for: where to save, and saving received bytes
// without freezing the window or leaving half a file behind.

#include "record/ByteStore.h"
#include "record/FileChecks.h"

#include <QByteArray>
#include <QFileDevice>
#include <QObject>
#include <QSaveFile>
#include <QTimer>

class QProgressDialog;
class QWidget;

namespace platform {

// Asks the user for a file name; empty when cancelled.
class FileChooser {
public:
    // Replace: the dialog asks before a file is replaced. Any: the caller
    // asks what to do with an existing file itself.
    enum class Existing { Replace, Any };
    virtual ~FileChooser() = default;
    virtual QString SaveFileName(QWidget *parent, const QString &title, Existing existing) = 0;
    // The same, offering file types ("Name (*.ext)"); a name typed without
    // an extension takes the chosen type's first.
    virtual QString SaveFileName(QWidget *parent, const QString &title, Existing existing, const QStringList &types)
    {
        Q_UNUSED(types);
        return SaveFileName(parent, title, existing);
    }
};

// The type a capture is offered as.
inline const QString kCaptureFilter = QStringLiteral("Wireshark capture (*.pcapng)");

class SystemFileChooser : public FileChooser {
public:
    QString SaveFileName(QWidget *parent, const QString &title, Existing existing) override;
    QString SaveFileName(QWidget *parent, const QString &title, Existing existing, const QStringList &types) override;
};

// Writes `bytes` to `path` in slices from the event loop, through a
// temporary file beside it that is renamed only once complete: a failure
// or a cancel leaves no file under the chosen name. A long save shows a
// progress dialog with Cancel.
class ByteSaver : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kSliceBytes = 1 << 20;
    static constexpr qsizetype kProgressFromBytes = 8 << 20;

    // `bytes` is a snapshot: later arrivals do not change the file.
    ByteSaver(ByteStore bytes, const QString &path, QWidget *parent);
    ~ByteSaver() override;
    void Start();
    void Cancel();

signals:
    // ok false: `error` says why; empty when the user cancelled.
    void Finished(bool ok, const QString &error);

private:
    void WriteSlice();
    void Finish(bool ok, const QString &error);

    ByteStore bytes_;
    QSaveFile file_;
    QTimer slices_;
    qsizetype written_ = 0;
    QWidget *parent_;
    QProgressDialog *progress_ = nullptr;
};

} // namespace platform
