// The installer flavor's helper library and first-run hook, run between the JVM's
// creation and the launcher class' main.
#pragma once

void loadHelperLibrary();
bool callInitFromLauncher(bool flag);
// False when the run is to end without main.
bool checkFirstRun();
