#!/bin/sh
# Runs a link with SOURCE_DATE_EPOCH set from the build's date file: GNU ld then
# writes that date, not the clock, into the PE header and the export directory.
# Usage: link_at_source_date.sh DATE_FILE LINK_COMMAND...
date_file=$1
shift
SOURCE_DATE_EPOCH=$(cat "$date_file") || exit 1
export SOURCE_DATE_EPOCH
exec "$@"
