// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/qt_audio_backend.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QBuffer>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace q7 {

namespace {

int g_argc = 1;
char g_name[] = "q7ctl";
char* g_argv[] = {g_name, nullptr};

// Runs f on the audio thread and waits for it.
template <typename F> void onAudioThread(QObject* context, F&& f) {
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

std::vector<AudioDevice> describe(const QList<QAudioDevice>& list) {
    std::vector<AudioDevice> out;
    for (const QAudioDevice& d : list)
        out.push_back(
            {d.description().toStdString(), std::max(d.maximumChannelCount(), 1), d.isDefault()});
    return out;
}

// A device by its description or its system id; the default one for an empty name.
std::optional<QAudioDevice> find(const QList<QAudioDevice>& list, const QAudioDevice& fallback,
                                 const std::string& name) {
    if (name.empty())
        return fallback.isNull() ? std::nullopt : std::optional(fallback);
    const QString n = QString::fromStdString(name);
    for (const QAudioDevice& d : list)
        if (d.description() == n || QString::fromUtf8(d.id()) == n)
            return d;
    return std::nullopt;
}

// What the audio thread and the waiting caller share during a run.
struct Run {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t played = 0;   // frames the sink has taken
    std::size_t recorded = 0; // frames in `data`
    std::vector<float> data;
    bool done = false;
    MeasureIssue problem;
};

} // namespace

QtAudioBackend::QtAudioBackend() {
    if (!QCoreApplication::instance())
        app_ = std::make_unique<QCoreApplication>(g_argc, g_argv);
    thread_ = new QThread;
    thread_->setObjectName("audio");
    context_ = new QObject;
    context_->moveToThread(thread_);
    thread_->start();
}

QtAudioBackend::~QtAudioBackend() {
    QMetaObject::invokeMethod(
        context_, [c = context_] { delete c; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete thread_;
}

std::vector<AudioDevice> QtAudioBackend::playbackDevices() {
    std::vector<AudioDevice> out;
    onAudioThread(context_, [&] { out = describe(QMediaDevices::audioOutputs()); });
    return out;
}

std::vector<AudioDevice> QtAudioBackend::recordingDevices() {
    std::vector<AudioDevice> out;
    onAudioThread(context_, [&] { out = describe(QMediaDevices::audioInputs()); });
    return out;
}

PlayRecordResult QtAudioBackend::playAndRecord(const PlayRecordRequest& req,
                                               const PlayRecordCallbacks& cb) {
    PlayRecordResult result;
    auto run = std::make_shared<Run>();
    QAudioSink* sink = nullptr;
    QAudioSource* source = nullptr;
    QBuffer* buffer = nullptr;
    QTimer* timer = nullptr;
    const std::size_t want = req.recordFrames;
    const int recordChannels = req.recordChannels;

    onAudioThread(context_, [&] {
        const auto out = find(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(),
                              req.playDevice);
        const auto in = find(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(),
                             req.recordDevice);
        if (!out || !in) {
            run->problem =
                !out ? MeasureIssue{MeasureProblem::NoPlaybackDevice, 0, req.playDevice}
                     : MeasureIssue{MeasureProblem::NoRecordingDevice, 0, req.recordDevice};
            return;
        }
        QAudioFormat playFormat, recordFormat;
        playFormat.setSampleRate(int(req.sampleRate));
        playFormat.setChannelCount(req.playChannels);
        playFormat.setSampleFormat(QAudioFormat::Float);
        recordFormat = playFormat;
        recordFormat.setChannelCount(req.recordChannels);
        if (!out->isFormatSupported(playFormat) || !in->isFormatSupported(recordFormat)) {
            run->problem = {MeasureProblem::FormatRefused, req.sampleRate};
            run->problem.channelsOut = req.playChannels;
            run->problem.channelsIn = req.recordChannels;
            return;
        }
        // Qt's own buffer sizes: smaller ones break up on a loaded machine.
        sink = new QAudioSink(*out, playFormat, context_);
        source = new QAudioSource(*in, recordFormat, context_);
        buffer = new QBuffer(context_);
        buffer->setData(QByteArray(reinterpret_cast<const char*>(req.play.data()),
                                   qsizetype(req.play.size() * sizeof(float))));
        buffer->open(QIODevice::ReadOnly);
        run->data.reserve(want * std::size_t(recordChannels));
        QIODevice* io = source->start();
        if (!io || source->error() != QAudio::NoError) {
            run->problem = {MeasureProblem::RecordingNotOpened};
            return;
        }
        auto* raw = run.get();
        QObject::connect(io, &QIODevice::readyRead, context_, [raw, io, want, recordChannels] {
            const QByteArray bytes = io->readAll();
            std::lock_guard lock(raw->mutex);
            const std::size_t values = std::size_t(bytes.size()) / sizeof(float);
            const float* f = reinterpret_cast<const float*>(bytes.constData());
            const std::size_t room = want * std::size_t(recordChannels) - raw->data.size();
            raw->data.insert(raw->data.end(), f, f + std::min(values, room));
            raw->recorded = raw->data.size() / std::size_t(recordChannels);
            raw->changed.notify_all();
        });
        // The recorder runs first: the sweep must not start before it listens.
        sink->start(buffer);
        if (sink->error() != QAudio::NoError) {
            run->problem = {MeasureProblem::PlaybackNotOpened};
            return;
        }
        timer = new QTimer(context_);
        const double rate = req.sampleRate;
        QObject::connect(timer, &QTimer::timeout, context_, [raw, sink, source, rate] {
            std::lock_guard lock(raw->mutex);
            raw->played = std::size_t(double(sink->processedUSecs()) * rate / 1e6);
            if (source->error() != QAudio::NoError && source->error() != QAudio::UnderrunError)
                raw->problem = {MeasureProblem::RecordingFailed};
            if (sink->error() == QAudio::OpenError || sink->error() == QAudio::FatalError)
                raw->problem = {MeasureProblem::PlaybackFailed};
            raw->changed.notify_all();
        });
        timer->start(20);
    });

    // Wait here, on the caller's thread: cues, progress and cancel are the caller's.
    const double seconds = double(want) / req.sampleRate;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int(seconds * 1000) + 10000);
    std::size_t nextCue = 0;
    std::size_t delivered = 0; // frames handed to cb.recorded
    std::vector<float> fresh;
    auto deliver = [&](std::unique_lock<std::mutex>& lock, std::size_t upTo) {
        if (!cb.recorded || upTo <= delivered)
            return;
        const std::size_t ch = std::size_t(recordChannels);
        fresh.assign(run->data.begin() + std::ptrdiff_t(delivered * ch),
                     run->data.begin() + std::ptrdiff_t(upTo * ch));
        const std::size_t n = upTo - delivered;
        delivered = upTo;
        lock.unlock();
        cb.recorded(fresh.data(), n);
        lock.lock();
    };
    {
        std::unique_lock lock(run->mutex);
        while (run->problem.empty()) {
            if (cb.cancel && cb.cancel->load()) {
                result.cancelled = true;
                break;
            }
            if (run->recorded >= want)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                run->problem = {MeasureProblem::DevicesStopped};
                break;
            }
            deliver(lock, run->recorded);
            const std::size_t played = run->played;
            const double fraction = double(run->recorded) / double(std::max<std::size_t>(want, 1));
            lock.unlock();
            while (nextCue < req.cues.size() && req.cues[nextCue].frame <= played) {
                if (cb.cue)
                    cb.cue(req.cues[nextCue].id);
                ++nextCue;
            }
            if (cb.progress)
                cb.progress(fraction);
            lock.lock();
            run->changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    onAudioThread(context_, [&] {
        if (timer)
            timer->stop();
        if (sink)
            sink->stop();
        if (source)
            source->stop();
        delete timer;
        delete sink;
        delete source;
        delete buffer;
    });
    std::unique_lock lock(run->mutex);
    if (!run->problem.empty() && !result.cancelled) {
        result.fail(run->problem);
        return result;
    }
    if (result.cancelled)
        return result;
    while (nextCue < req.cues.size()) {
        if (cb.cue)
            cb.cue(req.cues[nextCue].id);
        ++nextCue;
    }
    if (cb.progress)
        cb.progress(1.0);
    run->data.resize(want * std::size_t(recordChannels), 0.0f);
    deliver(lock, want);
    result.channels = recordChannels;
    result.recorded = std::move(run->data);
    return result;
}

std::unique_ptr<AudioBackend> createSystemAudioBackend() {
    return std::make_unique<QtAudioBackend>();
}

} // namespace q7
