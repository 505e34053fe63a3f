// Resources of the directory's Windows tests: copies of the program's
// progress window and of the main window's list box, and the two icons.
#pragma once

#define IDD_TEST_MAIN 3000
