#!/bin/sh
# SPDX-License-Identifier: MIT
# Rebuilds the spreadsheet header from its UTF-8 source. The bundle keeps it in GBK because the
# export writes it byte for byte and the spreadsheet program reads the font names in that code page.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
iconv -f UTF-8 -t GBK "$here/source/xls_head.utf8.txt" > "$here/Conf/System/xls_head.txt"
