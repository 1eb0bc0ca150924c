#!/bin/sh
# Runs Messages.sh as KDE's translation tooling does, on a copy of the sources,
# and checks that the catalogue holds texts of every kind of source file and
# that no text is shown to the user without going through KI18n.
# Usage: messagestest.sh SOURCE_DIR XGETTEXT EXTRACTRC
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/po"
cp -r "$source_dir/src/." "$work/src/"
cp "$source_dir/Messages.sh" "$work/"

# The keywords KDE's tooling gives xgettext for KI18n.
XGETTEXT="$2 --from-code=UTF-8 -C --kde -ci18n -ki18n:1 -ki18nc:1c,2 -ki18np:1,2 -ki18ncp:1c,2,3 \
-kki18n:1 -kki18nc:1c,2 -kki18np:1,2 -kki18ncp:1c,2,3 -kxi18n:1 -kxi18nc:1c,2 -kxi18np:1,2 -kxi18ncp:1c,2,3 \
-kkxi18n:1 -kkxi18nc:1c,2 -kkxi18np:1,2 -kkxi18ncp:1c,2,3 -kI18N_NOOP:1 -kI18NC_NOOP:1c,2 \
-kI18N_NOOP2:1c,2 -kI18N_NOOP2_NOSTRIP:1c,2 -ktr2i18n:1 -ktr2xi18n:1"
EXTRACTRC=$3
podir="$work/po"
export XGETTEXT EXTRACTRC podir
status=0
(cd "$work" && bash Messages.sh) || { echo "Messages.sh failed"; exit 1; }
pot="$podir/quillmap.pot"
[ -s "$pot" ] || { echo "no catalogue written"; exit 1; }
[ ! -e "$work/rc.cpp" ] || { echo "rc.cpp left behind"; status=1; }

# One text of each kind of source: code, XML GUI file, designer form, settings.
for msgid in 'Zoom In' 'Export…' 'Select Peak Snapshot' 'Chart Toolbar' 'Massif Data' 'Custom Allocators' 'Cost Precision'; do
    grep -q "^msgid \"$msgid\"" "$pot" || { echo "missing from the catalogue: $msgid"; status=1; }
done
# Contexts reach the catalogue.
grep -q '^msgctxt "@action"' "$pot" || { echo "no @action context"; status=1; }

# Texts handed to widgets as plain literals would never be translated.
if grep -rnE '(setText|setToolTip|setWindowTitle|setTitle|setPlaceholderText|setStatusTip|setWhatsThis|setTitleText)\((QStringLiteral|QLatin1String|QString::fromLatin1|QString::fromUtf8)?\(?"[A-Za-z]' "$source_dir/src"; then
    echo "user-visible texts above bypass KI18n"
    status=1
fi
count=$(grep -c '^msgid "' "$pot")
echo "$count messages extracted"
exit $status
