#!/bin/sh
# Renders the manual page with every groff warning enabled; any message fails.
# Exits 77 (skipped) when groff is missing.
command -v groff >/dev/null || { echo "man page test skipped: groff not found"; exit 77; }
out=$(groff -man -ww -z "$1" 2>&1) && [ -z "$out" ] && exit 0
echo "$out"
exit 1
