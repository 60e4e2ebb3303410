// Verbose: lines on standard error about the program's work, said from any
// thread: those that --verbose asks for, and the few said always.
#pragma once

// Turns the lines on or off for the whole process; the engine calls it once,
// before any view exists. Off until then.
void SetVerbose(bool on);
bool Verbose();

// One line "glymmer: <text>" on standard error, only while the lines are on.
// Whole lines: callers on several threads never interleave within a line.
void VerboseLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One line "glymmer: <text>" on standard error, whatever --verbose says: for
// what a person should hear of even without asking.
void SayLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
