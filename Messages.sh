#! /usr/bin/env bash
# Run by KDE's translation tooling, which sets EXTRACTRC, XGETTEXT and podir:
# the texts of the XML GUI, designer and configuration files first, then
# those of the code, into one catalogue named after the translation domain.
$EXTRACTRC $(find src -name \*.rc -o -name \*.ui -o -name \*.kcfg | sort) >> rc.cpp
$XGETTEXT rc.cpp $(find src -name \*.cpp -o -name \*.h | sort) -o $podir/quillmap.pot
rm -f rc.cpp
