#pragma once

#include <QString>
#include <QStringList>

// Confines what a child may read, with the kernel's Landlock: the thread that makes the child, and
// so the child and everything it starts, may read files and folders only beneath one folder, and
// read and execute only the program's own files (the executable, its loader and its libraries).
// Nothing else on the disk can be opened for reading, whatever links appear meanwhile.
namespace readconfinement
{
// Whether the kernel enforces Landlock for this process.
bool available();

// The files that starting `program` opens for execution: the program itself, its loader and the
// shared libraries it needs, as the loader resolves them now. Kept per program until its file
// changes. Throws ChildProcessError when the loader cannot be asked.
QStringList programFiles(const QString &program);

// Restricts the calling thread, for the rest of its life, to reading beneath `directory` (a
// descriptor of a folder) and reading and executing `programs`; standard input may still come from
// /dev/null. Meant for a thread of its own that then makes the child (ChildProcess::Options::confine).
// Throws ChildProcessError (isolation) when the kernel refuses.
void confine(int directory, const QStringList &programs);
} // namespace readconfinement
