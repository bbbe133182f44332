#!/usr/bin/python3
"""Builds the Debian package with CPack and checks it the way Debian checks packages.

Usage: check_deb_package.py <cpack> <CPackConfig.cmake> <scratch dir>

- cpack builds the package from the build tree into the scratch directory;
- lintian reports no error and no warning (information tags are allowed), and no override of
  the package has become unused;
- /usr/share/doc/tarvik/copyright is a machine-readable copyright file (DEP-5) whose every
  license has its text;
- the latest entry of /usr/share/doc/tarvik/changelog.Debian.gz names the package and its
  version, so that a new version is not shipped under the previous version's entry;
- with the editor in the package, the package depends on the package that holds Qt's Japanese
  translation (qtbase_ja.qm), which the editor loads at start.

A missing tool is a failure. Exit status 0 when everything holds, 1 with one line per fault.
"""

import glob
import gzip
import os
import re
import shutil
import subprocess
import sys

TOOLS = {"lintian": "lintian", "dpkg-deb": "dpkg", "dpkg-query": "dpkg"}
DOC = "usr/share/doc/tarvik"
QT_JAPANESE = "/usr/share/qt6/translations/qtbase_ja.qm"
CHANGELOG_HEAD = re.compile(r"^(\S+) \(([^()\s]+)\) [^;]+; urgency=\w+$")
faults = []


def fault(text):
    faults.append(text)


def run(args):
    return subprocess.run(args, capture_output=True, text=True)


def build_package(cpack, config, scratch):
    result = run([cpack, "--config", config, "-G", "DEB", "-B", scratch])
    if result.returncode != 0:
        fault("cpack failed:")
        faults.extend("  " + line for line in (result.stdout + result.stderr).splitlines()[-20:])
        return None
    packages = glob.glob(os.path.join(scratch, "*.deb"))
    if len(packages) != 1:
        fault(f"cpack made {len(packages)} Debian packages in {scratch}, not one")
        return None
    return packages[0]


def check_lintian(package):
    # Information tags are shown too: an unused override is one of them.
    result = run(["lintian", "--display-info", "--fail-on", "error,warning", package])
    tags = [line for line in result.stdout.splitlines() if re.match(r"^[EWIPXO]: ", line)]
    reported = False
    for line in tags:
        if line.startswith(("E: ", "W: ")) or " unused-override " in line + " ":
            fault("lintian: " + line)
            reported = True
    if result.returncode != 0 and not reported:
        fault(f"lintian ended with status {result.returncode}: {result.stderr.strip()}")


def control_field(package, name):
    return run(["dpkg-deb", "-f", package, name]).stdout.strip()


def check_copyright(root):
    path = os.path.join(root, DOC, "copyright")
    if not os.path.isfile(path):
        fault(f"/{DOC}/copyright is missing")
        return
    from debian import copyright as dep5  # noqa: E402, the module is checked for in main()

    try:
        with open(path, encoding="utf-8") as f:
            parsed = dep5.Copyright(f, strict=True)
    except (dep5.Error, ValueError) as error:
        fault(f"/{DOC}/copyright is not a machine-readable copyright file: {error}")
        return
    files = list(parsed.all_files_paragraphs())
    if not any("*" in paragraph.files for paragraph in files):
        fault(f"/{DOC}/copyright has no Files: * paragraph")
    texts = {p.license.synopsis for p in parsed.all_license_paragraphs() if p.license.text}
    for paragraph in files:
        if paragraph.license is None or not paragraph.copyright:
            fault(f"/{DOC}/copyright: Files: {' '.join(paragraph.files)} lacks Copyright or "
                  "License")
            continue
        if not paragraph.license.text and paragraph.license.synopsis not in texts:
            fault(f"/{DOC}/copyright: license {paragraph.license.synopsis} has no text")


def check_changelog(root, package):
    path = os.path.join(root, DOC, "changelog.Debian.gz")
    if not os.path.isfile(path):
        fault(f"/{DOC}/changelog.Debian.gz is missing")
        return
    with gzip.open(path, "rt", encoding="utf-8") as f:
        head = f.readline().rstrip("\n")
    match = CHANGELOG_HEAD.match(head)
    if not match:
        fault(f"the changelog's first line is not an entry's head: {head!r}")
        return
    name, version = match.groups()
    expected = (control_field(package, "Package"), control_field(package, "Version"))
    if (name, version) != expected:
        fault(f"the changelog's latest entry is {name} {version}, the package is "
              f"{expected[0]} {expected[1]}: write an entry for this version in "
              "packaging/debian/changelog")


def check_translation_dependency(root, package):
    if not os.path.isfile(os.path.join(root, "usr/bin/tarvik32")):
        return
    owner = run(["dpkg-query", "-S", QT_JAPANESE])
    if owner.returncode != 0:
        fault(f"{QT_JAPANESE} is not installed here (package qt6-translations-l10n; "
              "scripts/install-deps editor)")
        return
    holder = owner.stdout.split(":")[0].strip()
    depends = [alternative.split()[0]
               for item in control_field(package, "Depends").split(",")
               for alternative in item.split("|")]
    if holder not in depends:
        fault(f"the package does not depend on {holder}, which holds {QT_JAPANESE}")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    cpack, config, scratch = sys.argv[1:]
    missing = [f"{tool} (package {package})" for tool, package in TOOLS.items()
               if shutil.which(tool) is None]
    try:
        import debian.copyright  # noqa: F401
    except ImportError:
        missing.append("Python's debian module (package python3-debian)")
    if missing:
        sys.exit("missing tools: " + ", ".join(missing) + "; run scripts/install-deps package")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    package = build_package(cpack, config, scratch)
    if package:
        check_lintian(package)
        root = os.path.join(scratch, "root")
        result = run(["dpkg-deb", "-x", package, root])
        if result.returncode != 0:
            fault(f"dpkg-deb cannot unpack {package}: {result.stderr.strip()}")
        else:
            check_copyright(root)
            check_changelog(root, package)
            check_translation_dependency(root, package)
    for text in faults:
        print(text)
    if not faults:
        print(f"{os.path.basename(package)}: lintian-clean, copyright and changelog in order")
    sys.exit(1 if faults else 0)


main()
