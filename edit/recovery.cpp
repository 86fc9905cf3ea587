#include "edit/recovery.h"

#include "edit/folders.h"
#include "edit/save_load.h"
#include "model/ship.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/state_folder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

// What the editor's thread and the writer thread share; every field under `lock`. The snapshot
// belongs to the writer while `busy`, to the editor's thread otherwise.
struct CopyWriter
{
    std::mutex lock;
    std::condition_variable wake; // a job was handed over
    std::condition_variable done; // the writer went idle
    bool busy = false;
    bool growOnly = false; // the job is to make room for a ship of the sizes below
    std::size_t wantTriangles = 0;
    std::size_t wantAttachments = 0;
    std::string path; // where the copy goes; changed only while idle, outside frames
    std::vector<Triangle> triangles;
    std::vector<Attachment> attachments;
    uint64_t jobCount = 0; // the ship's edit count the snapshot holds
    // The last job's outcome, taken by the editor's thread.
    bool finished = false;
    bool written = false;
    uint64_t writtenCount = 0;
    std::string failure; // empty when the job went well
};

// The writer lives for the whole process, never destroyed: the thread may still wait on it
// while the process ends.
CopyWriter* writer = nullptr;

// The editor thread's own record of the run's copies.
struct RecoveryState
{
    bool active = false;     // a folder was found and the writer runs
    std::string base;        // folder and file name without the number and ".hul"
    int copyNumber = 1;      // later copies of a run (after a load kept one) are base-2.hul, ...
    uint64_t savedCount = 0; // the ship's edit count when ship.hul last matched it
    uint64_t attemptedCount = 0; // the count of the last copy begun (written or not)
    uint64_t copiedCount = 0;    // the count the copy on disk holds
    bool copyOnDisk = false;     // the run's current copy file exists
    uint64_t seenCount = 0;      // the count the last frame saw
    Clock::time_point lastChange;
    bool failureSaid = false; // the run's one line about a copy that failed
    int quietMilliseconds = RECOVERY_QUIET_MILLISECONDS;
};

RecoveryState recovery;

std::string failureLine(const std::string& what)
{
    return "gantrix: cannot keep a recovery copy of unsaved work: " + what +
           " (the editor goes on; save with 1)";
}

// The run's one line about copies; `line` is whole, so a frame that says it builds nothing.
void sayOnce(const std::string& line)
{
    RecoveryState& r = recovery;
    if (!r.failureSaid)
    {
        r.failureSaid = true;
        writeErrorLine(line);
    }
}

void sayFailureOnce(const std::string& what)
{
    if (!recovery.failureSaid)
    {
        sayOnce(failureLine(what));
    }
}

std::string copyPath(const RecoveryState& r)
{
    return r.copyNumber == 1 ? r.base + ".hul"
                             : r.base + "-" + std::to_string(r.copyNumber) + ".hul";
}

void writerLoop()
{
    CopyWriter& w = *writer;
    std::unique_lock<std::mutex> held(w.lock);
    for (;;)
    {
        w.wake.wait(held, [&w] { return w.busy; });
        // The snapshot is the writer's now; the editor's thread touches it only once idle.
        held.unlock();
        bool ok = false;
        std::string failure;
        try
        {
            if (w.growOnly)
            {
                w.triangles.reserve(w.wantTriangles);
                w.attachments.reserve(w.wantAttachments);
                ok = true;
            }
            else
            {
                ok = writeShipFile(w.path, w.triangles, w.attachments, failure);
                failure = ok ? "" : failureLine(w.path + ": " + failure);
            }
        }
        catch (const std::bad_alloc&)
        {
            failure = "gantrix: cannot keep a recovery copy of unsaved work: out of memory";
        }
        held.lock();
        w.finished = true;
        w.written = ok && !w.growOnly;
        w.writtenCount = w.jobCount;
        w.failure = ok ? std::string() : failure;
        w.busy = false;
        w.done.notify_all();
    }
}

// Takes the writer's last outcome into the run's record; under the writer's lock, idle.
void takeOutcome(CopyWriter& w)
{
    RecoveryState& r = recovery;
    if (!w.finished)
    {
        return;
    }
    w.finished = false;
    if (w.written)
    {
        r.copiedCount = w.writtenCount;
        r.copyOnDisk = true;
    }
    if (!w.failure.empty())
    {
        sayOnce(w.failure);
    }
}

// Waits, outside frames, until the writer is idle, and takes its outcome.
std::unique_lock<std::mutex> waitForWriter()
{
    CopyWriter& w = *writer;
    std::unique_lock<std::mutex> held(w.lock);
    w.done.wait(held, [&w] { return !w.busy; });
    takeOutcome(w);
    return held;
}

// Writes the ship to the run's copy on this thread, the writer idle; false when it failed.
bool writeCopyNow()
{
    RecoveryState& r = recovery;
    const Ship& s = ship;
    std::string error;
    bool ok = false;
    try
    {
        ok = writeShipFile(copyPath(r), s.triangles, s.attachments, error);
        if (!ok)
        {
            sayFailureOnce(copyPath(r) + ": " + error);
        }
    }
    catch (const std::bad_alloc&)
    {
        sayFailureOnce("out of memory");
    }
    r.attemptedCount = s.editStamp;
    if (ok)
    {
        r.copiedCount = s.editStamp;
        r.copyOnDisk = true;
    }
    return ok;
}

// A name part a person can read and every system takes: letters, digits, '.', '_' and '-'.
std::string readableName(const std::string& folder)
{
    std::size_t end = folder.find_last_not_of("/\\");
    end = end == std::string::npos ? 0 : end + 1;
    const std::size_t slash = folder.find_last_of("/\\", end == 0 ? 0 : end - 1);
    const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    std::string kept;
    for (std::size_t i = begin; i < end && kept.size() < 40; i++)
    {
        const char c = folder[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        kept += plain ? c : '_';
    }
    return kept.empty() ? "root" : kept;
}

// FNV-1a, 32 bits: tells apart folders of the same name in the copies' names.
std::string shortHash(const std::string& text)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : text)
    {
        hash = (hash ^ c) * 16777619u;
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", hash);
    return digits;
}

// The working folder a copy's name belongs to ("ships-1a2b3c4d"), or empty when the file is no
// copy: NAME-HASH-YYYYMMDD-HHMMSS-PID[-N].hul.
std::string folderOfCopy(const std::string& name)
{
    const std::size_t suffix = name.size() >= 4 ? name.size() - 4 : 0;
    if (name.size() < 4 || name.compare(suffix, 4, ".hul") != 0)
    {
        return "";
    }
    // The hash is the last 8 hexadecimal digits before "-YYYYMMDD-HHMMSS-".
    for (std::size_t at = name.find('-'); at != std::string::npos; at = name.find('-', at + 1))
    {
        const std::size_t stamp = at + 1;
        bool matches = at >= 9 && name[at - 9] == '-' && stamp + 16 < name.size() &&
                       name[stamp + 8] == '-' && name[stamp + 15] == '-';
        for (std::size_t i = 0; matches && i < 15; i++)
        {
            matches = i == 8 || (name[stamp + i] >= '0' && name[stamp + i] <= '9');
        }
        for (std::size_t i = at - 8; matches && i < at; i++)
        {
            matches = (name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f');
        }
        if (matches)
        {
            return name.substr(0, at);
        }
    }
    return "";
}

// Seconds since 1970.
static int64_t secondsNow()
{
    return static_cast<int64_t>(std::time(nullptr));
}

// A time as the user's clock shows it: "2026-12-08 18:41:19", or "20261208-184119" for a name.
static std::string localTimeText(int64_t seconds, bool forFileName)
{
    std::tm local{};
    char text[32] = "";
    if (localTime(seconds, local))
    {
        std::strftime(text, sizeof text, forFileName ? "%Y%m%d-%H%M%S" : "%Y-%m-%d %H:%M:%S",
                      &local);
    }
    return text;
}

// Removes the copies past their age and, per working folder, all but the newest few; returns
// this folder's newest copy left (empty name when none).
FolderFile pruneCopies(const std::string& folder, const std::string& ours)
{
    std::vector<FolderFile> files;
    std::string error;
    if (!listFolderFiles(folder, files, error))
    {
        sayFailureOnce(error);
        return FolderFile{};
    }
    std::map<std::string, std::vector<FolderFile>> byFolder;
    unsigned long ignored = 0; // a copy that cannot be removed is left for the next start
    const int64_t oldest = secondsNow() - RECOVERY_COPY_MAX_AGE_SECONDS;
    for (const FolderFile& f : files)
    {
        const std::string owner = folderOfCopy(f.name);
        if (owner.empty())
        {
            continue;
        }
        if (f.modified < oldest)
        {
            removeFile(pathInFolder(folder, f.name), ignored);
            continue;
        }
        byFolder[owner].push_back(f);
    }
    FolderFile newest;
    for (auto& [owner, copies] : byFolder)
    {
        std::sort(copies.begin(), copies.end(),
                  [](const FolderFile& a, const FolderFile& b)
                  { return a.modified != b.modified ? a.modified > b.modified : a.name > b.name; });
        for (std::size_t i = RECOVERY_COPIES_KEPT; i < copies.size(); i++)
        {
            removeFile(pathInFolder(folder, copies[i].name), ignored);
        }
        if (owner == ours)
        {
            newest = copies.front();
        }
    }
    return newest;
}

// The one line that tells of the newest copy for this working folder.
void tellOfCopy(const std::string& folder, const FolderFile& copy)
{
    const std::string path = pathInFolder(folder, copy.name);
    ShipFileContent content;
    std::string error;
    std::string what;
    if (readShipContent(path, content, error))
    {
        const size_t t = content.triangles.size();
        const size_t a = content.attachments.size();
        what = std::to_string(t) + (t == 1 ? " triangle, " : " triangles, ") + std::to_string(a) +
               (a == 1 ? " attachment" : " attachments");
    }
    else
    {
        what = "unreadable: " + error;
    }
    writeErrorLine("gantrix: unsaved work from " + localTimeText(copy.modified, false) + " (" +
                   what + ") is kept in " + path +
                   "; to get it back, copy it over ship.hul and press 0");
}

bool prepareRecovery()
{
    RecoveryState& r = recovery;
    std::string top;
    std::string below;
    std::string folder;
    std::string working;
    std::string error;
    if (!recoveryFolder(top, below, error) || !makePrivateFolders(top, below, folder, error) ||
        !workingFolder(working, error))
    {
        sayFailureOnce(error);
        return false;
    }
    const int64_t started = secondsNow();
    const std::string ours = readableName(working) + "-" + shortHash(working);
    const FolderFile newest = pruneCopies(folder, ours);
    if (!newest.name.empty())
    {
        tellOfCopy(folder, newest);
    }
    r.base = pathInFolder(folder, ours + "-" + localTimeText(started, true) + "-" +
                                      std::to_string(processId()));
    writer = new CopyWriter;
    writer->path = copyPath(r);
    writer->path.reserve(writer->path.size() + 16);
    std::thread(writerLoop).detach();
    return true;
}
} // namespace

void startRecovery(int quietMilliseconds)
{
    RecoveryState& r = recovery;
    r.quietMilliseconds = quietMilliseconds;
    try
    {
        r.active = prepareRecovery();
    }
    catch (const std::exception&)
    {
        // No memory or no thread for the writer: the run goes on without copies.
        sayFailureOnce("the writer cannot start");
        r.active = false;
    }
    r.savedCount = ship.editStamp;
    r.attemptedCount = ship.editStamp;
    r.copiedCount = ship.editStamp;
    r.seenCount = ship.editStamp;
    r.lastChange = Clock::now();
}

void recoveryAfterFrame()
{
    RecoveryState& r = recovery;
    const Ship& s = ship;
    if (!r.active)
    {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (s.editStamp != r.seenCount)
    {
        r.seenCount = s.editStamp;
        r.lastChange = now;
    }
    if (s.editStamp == r.attemptedCount || s.editStamp == r.savedCount ||
        now - r.lastChange < std::chrono::milliseconds(r.quietMilliseconds))
    {
        return;
    }
    CopyWriter& w = *writer;
    std::unique_lock<std::mutex> held(w.lock, std::try_to_lock);
    if (!held.owns_lock() || w.busy)
    {
        return;
    }
    takeOutcome(w);
    // The snapshot's room is grown by the writer, so the frame asks for no memory; the copy
    // itself follows at a later frame.
    if (w.triangles.capacity() < s.triangles.size() ||
        w.attachments.capacity() < s.attachments.size())
    {
        w.growOnly = true;
        w.wantTriangles = s.triangles.capacity();
        w.wantAttachments = s.attachments.capacity();
        w.busy = true;
        w.wake.notify_one();
        return;
    }
    w.triangles.assign(s.triangles.begin(), s.triangles.end());
    w.attachments.assign(s.attachments.begin(), s.attachments.end());
    w.growOnly = false;
    w.jobCount = s.editStamp;
    w.busy = true;
    r.attemptedCount = s.editStamp;
    w.wake.notify_one();
}

void writeRecoveryLastWords()
{
    RecoveryState& r = recovery;
    if (!r.active)
    {
        return;
    }
    std::unique_lock<std::mutex> held = waitForWriter();
    const uint64_t count = ship.editStamp;
    if (count != r.savedCount && count != r.copiedCount)
    {
        writeCopyNow();
    }
}

void recoveryAfterSave()
{
    RecoveryState& r = recovery;
    r.savedCount = ship.editStamp;
    if (!r.active)
    {
        return;
    }
    // A copy still being written would land after the removal.
    std::unique_lock<std::mutex> held = waitForWriter();
    if (r.copyOnDisk)
    {
        unsigned long ignored = 0;
        removeFile(copyPath(r), ignored);
        r.copyOnDisk = false;
    }
    r.attemptedCount = ship.editStamp;
    r.copiedCount = ship.editStamp;
}

void recoveryBeforeLoad()
{
    RecoveryState& r = recovery;
    if (!r.active)
    {
        return;
    }
    std::unique_lock<std::mutex> held = waitForWriter();
    if (ship.editStamp != r.savedCount && ship.editStamp != r.copiedCount)
    {
        writeCopyNow();
    }
}

void recoveryAfterLoad(bool replaced)
{
    RecoveryState& r = recovery;
    if (!replaced)
    {
        return;
    }
    r.savedCount = ship.editStamp;
    if (!r.active)
    {
        return;
    }
    std::unique_lock<std::mutex> held = waitForWriter();
    // The copy of the replaced ship stays as it is; the loaded ship's changes get a new file.
    if (r.copyOnDisk)
    {
        r.copyNumber++;
        r.copyOnDisk = false;
        writer->path = copyPath(r);
    }
    r.attemptedCount = ship.editStamp;
    r.copiedCount = ship.editStamp;
}
