// Keeping the traffic: saving what a text area holds, and a timestamped
// record of both sides. Both only on the user's request, from the text
// areas' context menus.

#include "MainWindow.h"
#include "Texts.h"

#include <QMenu>

namespace ui {

using namespace platform;

void MainWindow::AddTrafficItems(int channel, QMenu *menu)
{
    menu->addAction(tr("&Save Received Bytes As…"), this, [this, channel] { SaveReceivedBytes(channel); })
        ->setObjectName(QStringLiteral("SaveAction"));
    QAction *record = recorder_.Active()
                          ? menu->addAction(tr("Stop &Recording"), this, &MainWindow::StopRecording)
                          : menu->addAction(tr("&Record Both Sides…"), this, &MainWindow::StartRecording);
    record->setObjectName(QStringLiteral("RecordAction"));
}

void MainWindow::SaveReceivedBytes(int channel)
{
    const QString path = services_.files->SaveFileName(this, tr("Save Received Bytes"));
    if (path.isEmpty())
        return;
    // The bytes kept at this moment; later arrivals do not change the file.
    auto *saver = new ByteSaver(Own(channel).text.Text(), path, this);
    connect(saver, &ByteSaver::Finished, this, [this](bool ok, const QString &error) {
        if (ok || error.isEmpty())
            return; // saved, or cancelled
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kSaveFailed, error);
    });
    saver->Start();
}

void MainWindow::StartRecording()
{
    const QString path = services_.files->SaveFileName(this, tr("Record Both Sides"));
    if (path.isEmpty())
        return;
    QString error;
    if (!recorder_.Start(path, &error)) {
        services_.alerts->Beep();
        services_.alerts->MsgBox(texts::kRecordingNotStarted, error);
        return;
    }
    RecordingTxt().SetVisible(true);
}

void MainWindow::StopRecording()
{
    recorder_.Stop();
    RecordingTxt().SetVisible(false);
}

void MainWindow::RecordingFailed(const QString &error)
{
    RecordingTxt().SetVisible(false);
    services_.alerts->Beep();
    services_.alerts->MsgBox(texts::kRecordingFailed, error);
}

} // namespace ui
