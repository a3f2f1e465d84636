// Module frmUnload: the close-all and the two ways the program ends.
#pragma once

namespace tidrex::shell {

// Unloads every loaded form but the start-up form Form1a.
void UnloadAllForms();

// Ends the program: default cursor, then every loaded form unloaded, the start-up form too.
void ExitProgram();

// As ExitProgram, then deletes "Clean.ini".
void RemoveAllPaths();

}  // namespace tidrex::shell
