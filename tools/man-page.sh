#!/usr/bin/env bash
# Writes the manual page of one of the tools from its own --help, so the page
# says what the program says. The build runs it after each link of the tool.
# Usage: man-page.sh PROGRAM "ONE-LINE SUMMARY" VERSION OUT.1
#
# --help is read as these blocks:
#   usage: NAME ARGS...     the SYNOPSIS; a further line that starts with NAME
#          NAME ARGS...     (or "or: NAME") is another form, any other line
#          [MORE ARGS]      continues the form above it, a blank line ends it
#   Heading:                an unindented line ending in a colon: a subsection
#     --option   text       an indented option and its text (the first starts
#                more text  OPTIONS); deeper lines continue the text
#   other lines             paragraphs of the DESCRIPTION, blank-line separated
# It uses only bash and sed, so a package build needs nothing more.
set -euo pipefail

program="$1" summary="$2" version="$3" out="$4"
name="$(basename "$program")"
help="$("$program" --help)" || { echo "man-page.sh: $program --help failed" >&2; exit 1; }

# roff text: backslashes shown as such, a leading dot or quote kept as text,
# options in bold with their dashes as minus signs, and so negative numbers.
roff() {
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" \
        -e 's/\(^\|[[ (|]\)\(--*[A-Za-z][-A-Za-z0-9]*\)/\1\\fB\2\\fR/g' \
        -e ':minus' -e 's/\(\\fB\([^\\]\|\\-\)*\)-/\1\\-/' -e 't minus' \
        -e 's/\(^\|[ (]\)-\([0-9]\)/\1\\-\2/g' <<<"$1"
}
trim() { printf '%s' "${1#"${1%%[![:space:]]*}"}"; }
# A program name, every dash a minus sign (so the name can be copied).
command_name() { sed 's/-/\\-/g' <<<"$1"; }

page=".TH $(command_name "$(tr '[:lower:]' '[:upper:]' <<<"$name")") 1 \"\" \"Plonkbrett Streuwolke $version\" \"User Commands\"
.SH NAME
$(command_name "$name") \\- $(roff "$summary")"
emit() { page+=$'\n'"$1"; }

block=none      # none, usage (no-fill synopsis), text, option
indent=""       # the width of "usage: ", taken off the synopsis' further lines
paragraph=""    # text read but not written yet
described=0 optioned=0 text_column=0
flush() {
    [[ -n "$paragraph" ]] && emit "$(roff "$paragraph")"
    paragraph=""
}
# One line of the synopsis, the program's name in bold where it starts one.
usage_form() {
    if [[ "$1" == "$name" || "$1" == "$name "* ]]; then
        emit "\\fB$(command_name "$name")\\fR$(roff "${1#"$name"}")"
    else
        emit "$(roff "$1")"
    fi
}
# Ends the block before a new one starts.
close() {
    flush
    [[ "$block" == usage ]] && emit ".fi"
    block="$1"
}

while IFS= read -r line; do
    indented=0
    [[ "$line" == [[:space:]]* ]] && indented=1
    # An unindented line ends a synopsis or an option's text.
    if ((!indented)) && [[ "$block" == usage || "$block" == option ]]; then close none; fi
    if [[ -z "${line//[[:space:]]/}" ]]; then
        if [[ "$block" == option ]]; then flush; else close none; fi
    elif [[ "$line" =~ ^[Uu]sage:[[:space:]]*(.*)$ ]]; then
        close usage
        emit ".SH SYNOPSIS"
        emit ".nf"
        indent="${line%%"${BASH_REMATCH[1]}"}" indent="${indent//?/ }"
        usage_form "${BASH_REMATCH[1]}"
    elif [[ "$block" == usage ]]; then
        line="${line#"$indent"}"
        [[ "$line" =~ ^[[:space:]]*or:[[:space:]]*(.*)$ ]] && line="${BASH_REMATCH[1]}"
        usage_form "$line"
    elif ((!indented)) && [[ "$line" =~ ^(.*):$ ]]; then
        close none
        if [[ "${BASH_REMATCH[1],,}" == options ]] && ((!optioned)); then
            emit ".SH OPTIONS"
            optioned=1
        else
            emit ".SS $(roff "${BASH_REMATCH[1]}")"
        fi
    elif [[ "$line" =~ ^([[:space:]]+)(-[^[:space:]]*( [^[:space:]]+)*)([[:space:]][[:space:]]+(.*))?$ ]] \
         && ! [[ "$block" == option && ${#BASH_REMATCH[1]} -ge $text_column ]]; then
        # An option, unless it lines up with the text of the one before it
        # (a text line that starts with a dash, such as "-90 dBFS").
        close option
        ((optioned)) || emit ".SH OPTIONS"
        optioned=1
        emit ".TP"
        emit "$(roff "${BASH_REMATCH[2]}")"
        paragraph="${BASH_REMATCH[5]}"
        text_column=$((${#line} - ${#paragraph}))
        [[ -n "$paragraph" ]] || text_column=$((${#BASH_REMATCH[1]} + 1))
    else
        if [[ "$block" == none ]]; then
            if ((!described && !optioned)); then emit ".SH DESCRIPTION"; else emit ".PP"; fi
            described=1
            block=text
        fi
        paragraph+="${paragraph:+$'\n'}$(trim "$line")"
    fi
done <<<"$help"
close none

emit ".SH SEE ALSO"
see_also=""
for other in streuwolke-render streuwolke-analyze lv2apply; do
    [[ "$other" == "$name" ]] || see_also+="${see_also:+,$'\n'}.BR $(command_name "$other") (1)"
done
emit "$see_also"

printf '%s\n' "$page" >"$out.tmp"
mv "$out.tmp" "$out"
