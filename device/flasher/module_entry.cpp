// Velkor.exe is velkor_core linked whole; its one visible symbol is FlasherMain.
#include "flasher/flasher_main.h"
