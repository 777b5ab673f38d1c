#pragma once

#include <string>

// Whether the document file at `path` may carry macros: the names of macro storage in
// zip packages (vbaProject, Basic/, Scripts/) and in compound files (Macros,
// _VBA_PROJECT, named in UTF-16), or a script library embedded in a flat file. A
// document with macros leaves its libraries in the office, so an engine that served
// one serves no other. It errs on the side of yes: a yes only costs the document an
// engine of its own. Files too large to read whole are taken for yes.
bool mayCarryMacros(const std::string &path);
