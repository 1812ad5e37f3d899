#pragma once

// What screen readers and switch access see of the program's own controls. Installed once,
// before the first control is made, so that no plain face of one is ever handed out.
void installAccessibleControls();
