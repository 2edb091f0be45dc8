/* The start-up baseline: a program that only shows one ownerless message box (without a display
 * the box cannot be shown and the call returns at once), as the updater does on a machine
 * without the product. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  (void)instance; (void)previous; (void)line; (void)show;
  MessageBoxW(NULL, L"Quorvia 3 is not installed.", L"Quorvia 3 Update Installation", MB_OK);
  return 1605;
}
