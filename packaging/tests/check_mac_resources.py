#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the generated macOS bundle resources as property lists.

Usage: check_mac_resources.py <folder> <app identifier> <document type>
The folder holds Info.plist, vxm-launcher.entitlements and
vxm-tunnel.entitlements. Prints every fault and exits 1 when there is one.
"""
import plistlib
import sys

folder, identifier, document_type = sys.argv[1:4]
faults = []


def load(name):
    try:
        with open(f"{folder}/{name}", "rb") as file:
            return plistlib.load(file, fmt=plistlib.FMT_XML)
    except Exception as error:  # any reason the file is no property list
        faults.append(f"{name}: {error}")
        return {}


def expect(name, where, got, wanted):
    if got != wanted:
        faults.append(f"{name}: {where} is {got!r}, not {wanted!r}")


info = load("Info.plist")
expect("Info.plist", "CFBundleIdentifier", info.get("CFBundleIdentifier"), identifier)
expect("Info.plist", "CFBundleExecutable", info.get("CFBundleExecutable"), "vxm-launcher")
expect("Info.plist", "CFBundlePackageType", info.get("CFBundlePackageType"), "APPL")
expect("Info.plist", "LSMinimumSystemVersion", info.get("LSMinimumSystemVersion"), "15.0")

documents = info.get("CFBundleDocumentTypes", [])
expect("Info.plist", "the document types' content types",
       [document.get("LSItemContentTypes") for document in documents], [[document_type]])
exported = info.get("UTExportedTypeDeclarations", [])
expect("Info.plist", "the exported types", [declared.get("UTTypeIdentifier") for declared in exported],
       [document_type])
for declared in exported:
    tags = declared.get("UTTypeTagSpecification", {})
    expect("Info.plist", "the exported type's extensions", tags.get("public.filename-extension"), ["vxm"])
    expect("Info.plist", "what the exported type conforms to", declared.get("UTTypeConformsTo"), ["public.data"])

for program in ("vxm-launcher", "vxm-tunnel"):
    name = f"{program}.entitlements"
    expect(name, "the entitlements", load(name), {
        "com.apple.developer.networking.networkextension": ["packet-tunnel-provider-systemextension"],
        "com.apple.developer.system-extension.install": True,
    })

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
