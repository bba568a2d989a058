#include "app/ExcerptPlayer.h"

#include <algorithm>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QByteArray>
#include <QEventLoop>
#include <QMediaDevices>
#include <QTimer>

namespace tandem {

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
    QEventLoop loop;
    QObject::connect(&sink, &QAudioSink::stateChanged, &loop, [&](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState) loop.quit();
    });
    // A sink that never reports its end must not hold the window for good.
    const auto playMs = static_cast<int>(image.frames.size() * 1000 / static_cast<std::size_t>(std::max(image.rate, 1)));
    QTimer::singleShot(playMs + 3000, &loop, &QEventLoop::quit);
    sink.start(&source);
    if (sink.error() != QAudio::NoError || sink.state() == QAudio::StoppedState) {
        notice(State::NoDevice, 0);
        return;
    }
    notice(State::Playing, (playMs + 999) / 1000);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    sink.stop();
    notice(State::Played, 0);
}

}  // namespace tandem
