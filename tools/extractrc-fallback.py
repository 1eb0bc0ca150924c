#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 Quillmap developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the translatable texts of XML GUI (.rc), designer (.ui) and
configuration (.kcfg) files as i18n calls for xgettext, as KDE's extractrc
does; used to check the extraction where extractrc is not installed."""

import sys
import xml.etree.ElementTree as ElementTree


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def call(text, context, source):
    if not text or not text.strip():
        return
    print("// i18n: file: " + source)
    if context:
        print("i18nc(" + quoted(context) + ", " + quoted(text) + ");")
    else:
        print("i18n(" + quoted(text) + ");")


def local(tag):
    return tag.rsplit("}", 1)[-1]


def extract(path):
    root = ElementTree.parse(path).getroot()
    if path.endswith(".rc"):
        for element in root.iter():
            if local(element.tag) in ("text", "title", "ToolTip", "tooltip", "whatsthis", "iconText"):
                call(element.text, element.get("context"), path)
    elif path.endswith(".ui"):
        for element in root.iter():
            if local(element.tag) == "string" and element.get("notr") != "true":
                call(element.text, element.get("comment"), path)
    elif path.endswith(".kcfg"):
        for element in root.iter():
            if local(element.tag) in ("label", "tooltip", "whatsthis"):
                call(element.text, element.get("context"), path)


for argument in sys.argv[1:]:
    extract(argument)
