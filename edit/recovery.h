#pragma once

#include <cstddef>

// Recovery copies: while the global ship differs from what was last saved or loaded, a copy of
// it is kept in the user's state folder (see platform/state_folder.h), in the ship file's own
// format, so that work not yet saved outlives a run that ends without a save. One file per run,
// named by the working folder's name, a short hash of its full path, the start time and the
// process: "ships-1a2b3c4d-20261208-184119-4242.hul". ship.hul itself is only ever written by a
// save. A copy that cannot be written costs one line on stderr per run and stops nothing.

// Most copies kept per working folder, and how old a copy may grow before a start removes it.
constexpr std::size_t RECOVERY_COPIES_KEPT = 10;
constexpr long long RECOVERY_COPY_MAX_AGE_SECONDS = 30LL * 24 * 60 * 60;
// A copy follows this long after the last change, so a drag writes once, not at every step.
constexpr int RECOVERY_QUIET_MILLISECONDS = 2000;

// At start: finds the folder, removes the copies past their number or age, says in one line
// where the newest copy for this working folder is and how to get it back, and starts the
// writer thread. A copy then follows `quietMilliseconds` after the last change (the editor's
// RECOVERY_QUIET_MILLISECONDS; 0 copies as often as the writer is free). Without a folder the
// run has no copies (said in one line).
void startRecovery(int quietMilliseconds);

// Once a frame, after the binding: about two seconds after the last change, hands a snapshot of
// the ship to the writer thread. It never waits for the writer and asks for no memory: the
// snapshot's room is grown by the writer thread, between copies.
void recoveryAfterFrame();

// The run is ending (window closed, display lost, an announced end): writes, on this thread,
// the ship if it differs from both ship.hul and the last copy.
void writeRecoveryLastWords();

// A save put the ship in ship.hul: the run's copy of it is removed.
void recoveryAfterSave();

// Before a load replaces the ship: a changed ship is written to its copy first. After it, with
// whether the ship was replaced: that copy is then kept, and later changes go to a new one.
void recoveryBeforeLoad();
void recoveryAfterLoad(bool replaced);
