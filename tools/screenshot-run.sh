#!/usr/bin/env bash
# Runs a program on the current display, waits, saves a screenshot of the screen, ends it.
#   screenshot-run.sh <shot.png> <seconds> <program> [arguments...]
set -u
shot=$1 seconds=$2
shift 2
"$@" &
pid=$!
sleep "$seconds"
import -window root "$shot"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
