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
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    QAudioFormat format;
    format.setSampleRate(image.rate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return;

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
    if (sink.error() != QAudio::NoError || sink.state() == QAudio::StoppedState) return;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    sink.stop();
}

}  // namespace tandem
