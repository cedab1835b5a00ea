/* The import library of the platform's system library: one symbol per function of
   platform/wince/include/platform/wince/api_functions.def, so that a module links with every
   reference resolved and the link fails on anything the platform does not provide. The bodies
   never run: the loader binds each import to the platform's own answer by name. */
#define TOVA_WINCE_FUNCTION(name) \
    void name(void);              \
    void name(void) {}
#include "platform/wince/api_functions.def"
