#include "backgroundload.h"

#include "filenamebytes.h"
#include "progresstap.h"

#include "loadplan.h"
#include "memorylimit.h"
#include "volume.h"

#include <QFile>
#include <QThread>

#include <atomic>
#include <iostream>

// What the worker owns while it reads; shared so that the thread's function
// never refers to the BackgroundLoad itself.
struct BackgroundLoad::Job
{
    QString fileName;
    Reader reader;
    std::streambuf *out = nullptr; // standard output as it was when the load began
    std::unique_ptr<Volume> volume = std::make_unique<Volume>();
    VolumeReadResult result;
    std::atomic<bool> dropped{false};
};

BackgroundLoad::BackgroundLoad(QObject *parent) : QObject(parent)
{
    setTextureBudget(0);
}

void BackgroundLoad::setTextureBudget(std::uint64_t bytes)
{
    textureBudget = bytes;
    useStandardReader();
}

void BackgroundLoad::setSpacing(const std::optional<std::array<double, 3>> &spacing)
{
    voxelSize = spacing;
    useStandardReader();
}

void BackgroundLoad::useStandardReader()
{
    reader = [bytes = textureBudget, spacing = voxelSize](const std::string &path, Volume &target,
                                                          std::ostream &out, std::ostream &err,
                                                          const std::atomic<bool> &stop) {
        VolumeReadOptions options;
        options.stop = &stop;
        options.maxDataBytes = loadableDataBytes();
        options.gpuBudgetBytes = bytes > 0 ? bytes : defaultLoadLimits().gpuBudgetBytes;
        options.spacing = spacing;
        return readVolumeFile(path, target, out, err, options);
    };
}

BackgroundLoad::~BackgroundLoad()
{
    if (worker)
        worker->wait();
}

void BackgroundLoad::setReader(Reader replacement)
{
    if (replacement)
        reader = std::move(replacement);
}

void BackgroundLoad::start(const QString &fileName)
{
    if (job)
        job->dropped = true;
    if (isBusy() && wantedFile != fileName)
        emit cancelled(wantedFile);
    wantedFile = fileName;
    emit started(fileName);
    emit progressChanged(-1);
    if (!worker)
        startWorker();
}

bool BackgroundLoad::cancel()
{
    if (!isBusy())
        return false;
    if (job)
        job->dropped = true;
    const QString fileName = wantedFile;
    wantedFile.clear();
    emit cancelled(fileName);
    return true;
}

BackgroundLoad::Outcome BackgroundLoad::takeOutcome()
{
    return std::move(outcome);
}

void BackgroundLoad::startWorker()
{
    job = std::make_shared<Job>();
    job->fileName = wantedFile;
    job->reader = reader;
    job->out = std::cout.rdbuf();
    std::weak_ptr<Job> watched = job;
    // Progress crosses to this thread queued; a dropped job's is not shown.
    auto report = [this, watched](int percent) {
        QMetaObject::invokeMethod(this, [this, watched, percent] {
            const std::shared_ptr<Job> current = watched.lock();
            if (current && current == job && !current->dropped)
                emit progressChanged(percent);
        });
    };
    std::shared_ptr<Job> running = job;
    worker.reset(QThread::create([running, report] {
        ProgressTap tap(running->out, report);
        std::ostream out(&tap);
        running->result = running->reader(fileNameBytes(running->fileName).toStdString(),
                                          *running->volume, out, std::cerr, running->dropped);
        out.flush();
    }));
    connect(worker.get(), &QThread::finished, this, &BackgroundLoad::workerEnded);
    worker->start();
}

void BackgroundLoad::workerEnded()
{
    worker->wait();
    worker.reset();
    const std::shared_ptr<Job> ended = std::move(job);
    if (!ended->dropped) {
        outcome.fileName = ended->fileName;
        outcome.volume = std::move(ended->volume);
        outcome.result = std::move(ended->result);
        wantedFile.clear();
        emit finished();
        return;
    }
    // The cancelled worker's volume goes here; a load asked for meanwhile
    // starts now.
    if (isBusy())
        startWorker();
}
