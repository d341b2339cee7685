#pragma once

// The plugin's names: its URI and that of the parameter naming its setup (the TTL of
// its bundle says the same).
#define MARROWBEAT_LV2_URI "https://marrowbeat.example/lv2/step-sequencer"
#define MARROWBEAT_LV2_SETUP_URI MARROWBEAT_LV2_URI "#setup"
