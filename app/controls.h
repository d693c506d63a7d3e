#pragma once
// The window's controls: laid out once, for the window and the plugin's panel.

#include "editors/panel_layout.h"
