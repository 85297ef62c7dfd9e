#ifndef TEXTEDIT_H
#define TEXTEDIT_H

#include <lua.hpp>

const luaL_Reg *lineeditFunctions();
const luaL_Reg *plaintexteditFunctions();

#endif
