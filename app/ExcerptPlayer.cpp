#include "app/ExcerptPlayer.h"

#include <algorithm>

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QByteArray>
#include <QMediaDevices>
#include <QTimer>

namespace tandem {

PlaybackDialog::PlaybackDialog(QWidget* parent, int milliseconds)
    : QProgressDialog(tr("再生中…"), tr("停止"), 0, std::max(milliseconds, 1), parent) {
    setWindowTitle(tr("再生"));
    setWindowModality(Qt::ApplicationModal);
    setMinimumDuration(0);
    setAutoClose(false);
    setAutoReset(false);
    connect(this, &QProgressDialog::canceled, this, &PlaybackDialog::reject);
    clock_.start();
    auto* tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, [this] { setValue(static_cast<int>(std::min<qint64>(clock_.elapsed(), maximum()))); });
    tick->start(100);
}

void PlaybackDialog::reject() {
    if (!finished_) stopped_ = true;
    QProgressDialog::reject();
}

void PlaybackDialog::Finished() {
    finished_ = true;
    done(QDialog::Accepted);
}

void AudioExcerptPlayer::Play(const WaveImage& image) {
    if (image.frames.empty()) return;
    const auto notice = [this](State state, int seconds) {
        if (Notice) Notice(state, seconds);
    };
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    QAudioFormat format;
    format.setSampleRate(image.rate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || !device.isFormatSupported(format)) {
        notice(State::NoDevice, 0);
        return;
    }

    QByteArray bytes(reinterpret_cast<const char*>(image.frames.data()),
                     static_cast<qsizetype>(image.frames.size() * sizeof(Frame)));
    QBuffer source(&bytes);
    source.open(QIODevice::ReadOnly);
    QAudioSink sink(device, format);
    const auto playMs = static_cast<int>(image.frames.size() * 1000 / static_cast<std::size_t>(std::max(image.rate, 1)));
    PlaybackDialog dialog(QApplication::activeWindow(), playMs);
    QObject::connect(&sink, &QAudioSink::stateChanged, &dialog, [&](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState) dialog.Finished();
    });
    // A sink that never reports its end must not hold the window for good.
    QTimer::singleShot(playMs + 3000, &dialog, &PlaybackDialog::Finished);
    sink.start(&source);
    if (sink.error() != QAudio::NoError || sink.state() == QAudio::StoppedState) {
        notice(State::NoDevice, 0);
        return;
    }
    notice(State::Playing, (playMs + 999) / 1000);
    dialog.exec();
    sink.stop();
    notice(State::Played, 0);
}

}  // namespace tandem
