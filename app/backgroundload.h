#pragma once

#include "volumefile.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>

class QThread;
struct Volume;

// Reads volume files on a worker thread, one at a time, so that the window
// stays responsive. Each load reads into a fresh Volume that the worker alone
// touches until it ends; the result comes back on the owner's thread through
// finished(). The progress lines go to standard output as with a synchronous
// load (and to progressChanged()), errors and warnings to standard error.
class BackgroundLoad : public QObject
{
    Q_OBJECT

public:
    // Reads path into target, printing progress to out and errors to err; runs
    // on the worker thread. The default is readVolumeFile() with this
    // machine's memory limit, the window's load path; tests slow it down.
    // stop turns true when the load is cancelled or replaced: long reads may
    // give up (see VolumeReadOptions::stop).
    using Reader =
        std::function<VolumeReadResult(const std::string &path, Volume &target, std::ostream &out,
                                       std::ostream &err, const std::atomic<bool> &stop)>;

    // A finished load: the file, the volume read (complete only when
    // result.ok) and what the reader said.
    struct Outcome
    {
        QString fileName;
        std::unique_ptr<Volume> volume;
        VolumeReadResult result;
    };

    explicit BackgroundLoad(QObject *parent = nullptr);
    // Waits for a worker still reading: its volume must not outlive it.
    ~BackgroundLoad() override;

    void setReader(Reader replacement);
    // The default reader with this texture budget (0: defaultLoadLimits()'s),
    // for the loads started from now on.
    void setTextureBudget(std::uint64_t bytes);
    // The default reader with this voxel size in place of the files' own
    // (--spacing), or without one, for the loads started from now on.
    void setSpacing(const std::optional<std::array<double, 3>> &spacing);

    // Loads fileName. A load still running is cancelled (its result dropped);
    // this one starts as soon as that worker ends, so at most one file is
    // read (and held in memory twice) at a time.
    void start(const QString &fileName);

    // Drops the wanted load's result: it never reaches finished(). Returns
    // false (and emits nothing) when no load is wanted. The worker reads on
    // to the end of the file in the background, as the readers have no way
    // to stop early.
    bool cancel();

    // Whether a load is wanted: reading, or waiting for a cancelled one.
    bool isBusy() const { return !wantedFile.isEmpty(); }
    QString fileName() const { return wantedFile; }
    // Whether a worker thread still reads (also a cancelled one).
    bool isReading() const { return worker != nullptr; }

    // The load that finished() announced; empty afterwards.
    Outcome takeOutcome();

signals:
    void started(const QString &fileName);
    // -1 while the file is read, then 0..100 while the data is prepared.
    void progressChanged(int percent);
    void finished();
    void cancelled(const QString &fileName);

private:
    void useStandardReader();
    std::uint64_t textureBudget = 0;
    std::optional<std::array<double, 3>> voxelSize;
    struct Job;
    void startWorker();
    void workerEnded();

    Reader reader;
    QString wantedFile;       // empty when no load is wanted
    std::shared_ptr<Job> job; // the worker's job, null when none runs
    std::unique_ptr<QThread> worker;
    Outcome outcome;
};
