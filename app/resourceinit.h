#pragma once

// Registers the compiled-in resources of the static library (icons, sound, translations).
void initNorvaResources();
