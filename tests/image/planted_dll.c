/* A library with a system library's kind of name, left beside a test program the way an
   attacker would leave one beside the updater in a download folder. */
__declspec(dllexport) int QvPlanted(void) { return 42; }
