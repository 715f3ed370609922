#!/bin/sh
# SPDX-License-Identifier: MIT
# Rebuilds the default server cluster file of the bundle from its plain values with our cipher.
#
#   resources/make_cluster_file.sh [path/to/norvane-clustertool]
#
# The tool comes from any build (target norvane-clustertool); build/default is the default.
# QT_HASH_SEED=0 keeps the attribute order of the written document the same from run to run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-"$here/../build/default/bin/norvane-clustertool"}
QT_HASH_SEED=0 "$tool" encode "$here/source/UpgradeServerCluster.plain.xml" \
    "$here/Conf/System/UpgradeServerCluster.xml"
