#pragma once
// Version data, shared by the program and its Windows resources.

#define VARDELO_VERSION_MAJOR 0
#define VARDELO_VERSION_MINOR 1
#define VARDELO_VERSION_FIX 0
#define VARDELO_VERSION_BUILD 9
#define VARDELO_VERSION_STAGE 1 /* alpha */
#define VARDELO_VERSION_TEXT "0.1.0.9"
#define VARDELO_RELEASE_TEXT "Alpha"
#define VARDELO_MAKER "VardeloLink developers"
#define VARDELO_ORIGINAL_FILENAME "VardeloLinkWin"
