// Keeping the traffic: saving what a text area holds, and a timestamped
// record of both sides. Both only on the user's request, from the text
// areas' context menus.

#include "MainWindow.h"
#include "Texts.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QTimer>

namespace ui {

using namespace platform;

void MainWindow::AddTrafficItems(int channel, QMenu *menu)
{
    menu->addAction(tr("&Save Received Bytes As…"), this, [this, channel] { SaveReceivedBytes(channel); })
        ->setObjectName(QStringLiteral("SaveAction"));
    QAction *record = bridge_->Record().Active()
                          ? menu->addAction(tr("Stop &Recording"), this, &MainWindow::StopRecording)
                          : menu->addAction(tr("&Record Both Sides…"), this, &MainWindow::StartRecording);
    record->setObjectName(QStringLiteral("RecordAction"));
    menu->addSeparator();
    menu->addAction(tr("&Line Settings…"), this, [this, channel] { ChangeLineSettings(channel); })
        ->setObjectName(QStringLiteral("LineSettingsAction"));
}

void MainWindow::SaveReceivedBytes(int channel)
{
    // What was trimmed away is not in the file: the dialog says how much.
    const qsizetype gone = Own(channel).received.Begin();
    const QString title = gone > 0 ? tr("Save Received Bytes (the oldest %1 are no longer kept)")
                                         .arg(QLocale().formattedDataSize(gone))
                                   : tr("Save Received Bytes");
    const QString path = services_.files->SaveFileName(this, title, FileChooser::Existing::Replace);
    if (path.isEmpty())
        return;
    bridge_->CatchUp();
    // The bytes kept at this moment; later arrivals do not change the file.
    auto *saver = new ByteSaver(Own(channel).received.Store(), path, this);
    connect(saver, &ByteSaver::Finished, this, [this](bool ok, const QString &error) {
        if (!ok && !error.isEmpty()) // not saved, nor cancelled
            bridge_->ReportLater(texts::kSaveFailed, error);
    });
    saver->Start();
}

void MainWindow::StartRecording()
{
    const QString path = services_.files->SaveFileName(this, tr("Record Both Sides"), FileChooser::Existing::Any,
                                                       {tr("Text record (*.txt *.log)"), kCaptureFilter});
    if (path.isEmpty())
        return;
    // A new file: nothing to add to.
    Recorder::Mode mode = Recorder::Mode::Replace;
    if (QFileInfo(path).isFile()) {
        // A capture is not added to: it is only replaced.
        const bool capture = Recorder::FormatOf(path) == Recorder::Format::Capture;
        const QStringList buttons = capture ? QStringList {texts::kReplace, texts::kCancel}
                                            : QStringList {texts::kAppend, texts::kReplace, texts::kCancel};
        const QString answer = buttons.value(services_.alerts->Ask(
            texts::kRecordExists.arg(QDir::toNativeSeparators(path)),
            capture ? texts::kCaptureExistsDetail : texts::kRecordExistsDetail, buttons));
        if (answer == texts::kAppend)
            mode = Recorder::Mode::Append;
        else if (answer != texts::kReplace)
            return;
    }
    QString error;
    bridge_->CatchUp(); // what came before is not in the new record
    if (!bridge_->Record().Start(path, mode, &error)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kRecordingNotStarted, error);
        return;
    }
    // A disk full already stops it at its first line, and says so once.
    RecordingTxt().SetVisible(bridge_->Record().Active());
}

void MainWindow::StopRecording()
{
    bridge_->CatchUp(); // everything that came before is in it
    bridge_->Record().Stop();
    RecordingTxt().SetVisible(false);
}

void MainWindow::RecordingFailed(const QString &error)
{
    RecordingTxt().SetVisible(false);
    bridge_->ReportLater(texts::kRecordingFailed, error);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!closing_) {
        closing_ = true;
        bridge_->LetGo();
    }
    // A port still delivering what it was given closes the window when
    // done, within its drain time.
    if (Own(1).controller.Releasing() || Own(2).controller.Releasing()) {
        event->ignore();
        return;
    }
    StopRecording();
    platform::Window::closeEvent(event);
}

void MainWindow::Released()
{
    if (closing_)
        QTimer::singleShot(0, this, &QWidget::close);
}

} // namespace ui
