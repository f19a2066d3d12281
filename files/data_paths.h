#pragma once

#include <QString>

// Where a program finds the data files it ships with (the report template). The search is
// relative to the running executable, so an installed tree works wherever its prefix is and can
// be moved as a whole, and a program started from the build folder finds what the build made.
namespace kd735 {

// The file name of the default report template.
inline constexpr char kTemplateFileName[] = "Sample_KD735.docx";

// The data file `name` of a program whose executable lies in `executableFolder`. Looks, in order:
//  1. in `executableFolder` itself (a portable copy with the data beside the program);
//  2. in `executableFolder`/../share/kd735 (the installed tree: bin/ beside share/);
//  3. in the build folder the program was built in, but only when `executableFolder` lies inside
//     that build folder, so that an installed program never reads a build tree.
// Returns the first one that exists as a clean absolute path; when none does, the installed
// location (2.), so that the path shown or named in a message is where the file belongs.
QString FindDataFile(const QString& name, const QString& executableFolder);

// FindDataFile(kTemplateFileName, folder of the running program). Needs a QCoreApplication.
QString DefaultTemplatePath();

}  // namespace kd735
