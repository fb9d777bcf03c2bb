#pragma once

#include <QString>

namespace fernpoint {

// Why a program must not be run as root, or an empty text when it may: it must be a file that
// exists, and it and every folder above it must belong to root and be closed to writes by group
// and others, so that nobody but root can have put it there or swap it before it runs. A
// root-owned folder with the sticky bit (such as /tmp) is fine above it: nobody else can rename
// or remove what root put into it. Symbolic links on the way are refused.
QString rootOnlyProgramProblem(const QString& program);

} // namespace fernpoint
