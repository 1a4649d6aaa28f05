// Hands the configured splash text settings to the Java-side runtime.
#pragma once

void passSplashConfig();
