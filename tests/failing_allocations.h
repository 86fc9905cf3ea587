#pragma once

// The test programs that link failing_allocations.cpp replace the global operator new with
// one that can refuse, as when the system has no memory left.

#include <atomic>

// Allocations this program may still make before every later one fails; below zero, every one
// succeeds, and zero makes every one fail. Set around a step to see it work from what it
// already holds.
extern std::atomic<long> allocationsLeft;

// Bytes the program holds through operator new now.
extern std::atomic<long long> bytesInUse;
