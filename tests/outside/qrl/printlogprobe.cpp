// SPDX-License-Identifier: MIT
// Writes one print log entry from a fresh process, so tests see where the log goes by default.
#include <qrl/qrl.h>

int main(int argc, char **argv)
{
    const char *text = argc > 1 ? argv[1] : "probe";
    return qrl::DPrintLog::instance()->Log(__FILE__, __LINE__, __func__, "", 4, "%s", text) == 0
               ? 0
               : 1;
}
