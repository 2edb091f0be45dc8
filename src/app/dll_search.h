// Restricts where the program's process looks for DLLs that are loaded after start-up.
#pragma once

namespace qv::app {

// The updater runs elevated from the folder it was downloaded to, where anyone may have left
// a DLL with the name of a system library. From here on, libraries loaded by name come from the
// system folder only (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32, where Windows
// has it), and the current folder is taken out of the search (SetDllDirectoryW with "").
// Both functions are bound at run time, so the program still starts where they are missing.
// Returns true when the default search was restricted to the system folder.
bool HardenDllSearch();

}  // namespace qv::app
