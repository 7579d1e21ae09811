// The main window's size texts and its file checks.
#pragma once

#include <QString>

#include <cstdint>

// A byte count as the size labels show it. From 1024 bytes on, the count in the largest binary
// unit it reaches (" Kb", " Mb", " Gb", " Tb"; 1 Kb = 1024 bytes), rounded to two decimals with a
// half to the even digit and written in the shortest form with the user's decimal separator
// (1.5 Kb, 4.38 Gb). Below that, the count itself and " Bytes" (also for 1: there is no singular).
// Counts are 64-bit, so files of 2 GiB and more show their real size.
QString DisplaySize(std::int64_t count);

// The length of the file at `path`, or -1 when it cannot be measured (absent, out of reach).
std::int64_t LengthOf(const QString& path);

// True only when `Path` names a file whose length can be read and is not 0. A missing file, a
// path that cannot be reached, an empty file and a folder all count as absent.
bool FileExist(const QString& Path);
