#!/usr/bin/env python3
"""Checks the winget installer manifest shown in docs/deploying.md: the ```yaml block whose
first line is "# winget-manifest". Standard library only; it reads the small YAML subset
that fragment uses and never fetches a schema, nor runs or installs anything.

Usage: tools/check_winget_fragment.py docs/deploying.md
Exit 0 with "winget fragment OK"; 1 with one reason a line; 2 for a usage or read error.
"""
import re
import sys

MARKER = "# winget-manifest"

# Field names of the installer manifest, version 1.6.0, per nesting level.
INSTALLER_FIELDS = {
    "InstallerLocale", "Platform", "MinimumOSVersion", "InstallerType", "NestedInstallerType",
    "NestedInstallerFiles", "Scope", "InstallModes", "InstallerSwitches", "InstallerSuccessCodes",
    "ExpectedReturnCodes", "UpgradeBehavior", "Commands", "Protocols", "FileExtensions",
    "Dependencies", "PackageFamilyName", "ProductCode", "Capabilities", "RestrictedCapabilities",
    "Markets", "InstallerAbortsTerminal", "ReleaseDate", "InstallLocationRequired",
    "RequireExplicitUpgrade", "DisplayInstallWarnings", "UnsupportedOSArchitectures",
    "UnsupportedArguments", "AppsAndFeaturesEntries", "ElevationRequirement", "InstallationMetadata",
}
FIELDS = {
    "root": INSTALLER_FIELDS | {"PackageIdentifier", "PackageVersion", "Channel", "Installers",
                                "ManifestType", "ManifestVersion"},
    "Installers": INSTALLER_FIELDS | {"Architecture", "InstallerUrl", "InstallerSha256", "SignatureSha256"},
    "InstallerSwitches": {"Silent", "SilentWithProgress", "Interactive", "InstallLocation", "Log",
                          "Upgrade", "Custom"},
    "ExpectedReturnCodes": {"InstallerReturnCode", "ReturnResponse", "ReturnResponseUrl"},
}
REQUIRED = {
    "root": ("PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"),
    "Installers": ("Architecture", "InstallerUrl", "InstallerSha256"),
}
ENUMS = {
    "InstallerType": {"msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn", "pwa",
                      "portable"},
    "InstallModes": {"interactive", "silent", "silentWithProgress"},
    "ReturnResponse": {"packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse",
                       "missingDependency", "diskFull", "insufficientMemory", "invalidParameter",
                       "noNetwork", "contactSupport", "rebootRequiredToFinish",
                       "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
                       "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported",
                       "custom"},
    "Architecture": {"x86", "x64", "arm", "arm64", "neutral"},
    "ElevationRequirement": {"elevationRequired", "elevationProhibited", "elevatesSelf"},
    "ManifestType": {"installer"},
}
# Fields holding a plain list of strings; any other nested value is beyond this table.
STRING_LISTS = {"Platform", "Commands", "Protocols", "FileExtensions", "Capabilities",
                "RestrictedCapabilities", "UnsupportedOSArchitectures", "UnsupportedArguments"}
URL = re.compile(r"^[Hh][Tt][Tt][Pp][Ss]?://.+$")
SHA256 = re.compile(r"^[A-Fa-f0-9]{64}$")
RETURN_CODE_RANGE = (-2147483648, 4294967295)

# What kelvane's exit codes mean to winget; a wrong word here misleads every administrator.
# 1638 comes only from a refused downgrade: winget's "a higher version is installed".
RESPONSES = {1602: "cancelledByUser", 1603: "contactSupport", 1618: "installInProgress", 1638: "downgrade"}
# winget's defaults already mean these; a manifest may leave them out, but not map them otherwise.
DEFAULT_RESPONSES = {3010: "rebootRequiredToFinish", 1641: "rebootInitiated"}
# kelvane's switches; any other word with a / or - prefix ends the run with exit code 87.
SWITCHES = {"quiet", "passive", "acceptlicence", "acceptlicense", "stdout", "?", "help", "uninstall",
            "allowdowngrade", "closeapplications", "norestart", "forcerestart"}
VALUED_SWITCHES = {"log", "answers", "dir"}


class YamlError(Exception):
    pass


# ---- the YAML subset: block mappings and lists, plain and quoted scalars, comments ----

def strip_comment(text, lineno):
    """Cuts a comment off, leaving '#' inside quotes and inside plain words alone."""
    quote = None
    i = 0
    while i < len(text):
        c = text[i]
        if quote:
            if c == "\\" and quote == '"':
                i += 1
            elif c == quote:
                if quote == "'" and text[i + 1:i + 2] == "'":
                    i += 1
                else:
                    quote = None
        elif c in "'\"" and (i == 0 or text[i - 1] in " :-"):
            quote = c
        elif c == "#" and (i == 0 or text[i - 1] in " \t"):
            return text[:i].rstrip()
        i += 1
    if quote:
        raise YamlError(f"line {lineno}: unterminated quoted string")
    return text.rstrip()


def scalar(text, lineno):
    if text.startswith("'"):
        if len(text) < 2 or not text.endswith("'"):
            raise YamlError(f"line {lineno}: text after a quoted string")
        return text[1:-1].replace("''", "'")
    if text.startswith('"'):
        out, i = [], 1
        escapes = {"\\": "\\", '"': '"', "/": "/", "n": "\n", "t": "\t"}
        while i < len(text) and text[i] != '"':
            if text[i] == "\\":
                nxt = text[i + 1:i + 2]
                if nxt not in escapes:
                    raise YamlError(f"line {lineno}: escape \\{nxt} is outside the subset this tool reads")
                out.append(escapes[nxt])
                i += 2
            else:
                out.append(text[i])
                i += 1
        if i != len(text) - 1:
            raise YamlError(f"line {lineno}: text after a quoted string")
        return "".join(out)
    if text[0] in "[]{}&*!|>%@`" or text[:2] in ("- ", "? ", ": "):
        raise YamlError(f"line {lineno}: '{text[0]}' starts YAML this tool does not read")
    if ": " in text or text.endswith(":"):
        raise YamlError(f"line {lineno}: ': ' inside a plain value (quote the value)")
    if re.fullmatch(r"[-+]?[0-9]+", text):
        return int(text)
    return {"true": True, "false": False, "null": None, "~": None}.get(text, text)


KEY = re.compile(r"^([A-Za-z][A-Za-z0-9_]*):(?:[ ]+(.*))?$")


class Parser:
    def __init__(self, text, first_lineno=1):
        self.lines = []  # [lineno, indent, content]
        for n, raw in enumerate(text.split("\n"), first_lineno):
            body = raw.rstrip("\r")
            if "\t" in body[:len(body) - len(body.lstrip(" \t"))]:
                raise YamlError(f"line {n}: tab in indentation")
            content = strip_comment(body.strip(), n)
            if content:
                if content in ("---", "..."):
                    raise YamlError(f"line {n}: document markers are outside the subset this tool reads")
                self.lines.append([n, len(body) - len(body.lstrip(" ")), content])
        self.i = 0

    def parse(self):
        if not self.lines:
            raise YamlError("the fragment is empty")
        value = self.block(self.lines[0][1])
        if self.i < len(self.lines):
            raise YamlError(f"line {self.lines[self.i][0]}: indentation does not match any open level")
        return value

    def is_item(self, content):
        return content == "-" or content.startswith("- ")

    def block(self, indent):
        return self.sequence(indent) if self.is_item(self.lines[self.i][2]) else self.mapping(indent)

    def nested(self, indent, lineno, allow_same_level_list):
        """The value of a key or dash with nothing after it: a deeper block, or null."""
        if self.i < len(self.lines):
            _, ind, content = self.lines[self.i]
            if ind > indent or (allow_same_level_list and ind == indent and self.is_item(content)):
                return self.block(ind)
        return None

    def mapping(self, indent):
        result = {}
        while self.i < len(self.lines):
            lineno, ind, content = self.lines[self.i]
            if ind < indent or (ind == indent and self.is_item(content)):
                break
            if ind > indent:
                raise YamlError(f"line {lineno}: unexpected indentation")
            m = KEY.match(content)
            if not m:
                raise YamlError(f"line {lineno}: expected 'Name: value'")
            key, rest = m.group(1), m.group(2)
            if key in result:
                raise YamlError(f"line {lineno}: {key} given twice")
            self.i += 1
            result[key] = scalar(rest, lineno) if rest else self.nested(indent, lineno, True)
        return result

    def sequence(self, indent):
        result = []
        while self.i < len(self.lines):
            lineno, ind, content = self.lines[self.i]
            if ind != indent or not self.is_item(content):
                if ind > indent:
                    raise YamlError(f"line {lineno}: unexpected indentation")
                break
            rest = content[1:].lstrip(" ")
            if not rest:
                self.i += 1
                result.append(self.nested(indent, lineno, False))
            elif KEY.match(rest) or self.is_item(rest):
                # The item's content becomes a line of its own at its column, so the
                # item's further lines continue it as a block.
                self.lines[self.i] = [lineno, ind + len(content) - len(rest), rest]
                result.append(self.block(ind + len(content) - len(rest)))
            else:
                self.i += 1
                result.append(scalar(rest, lineno))
        return result


def extract(markdown):
    """The marked block's text and the line number of its first line in the document."""
    found = []
    lines = markdown.split("\n")
    for n, line in enumerate(lines):
        if line.strip().rstrip("\r") == "```yaml" and n + 1 < len(lines) \
                and lines[n + 1].strip().rstrip("\r") == MARKER:
            end = n + 1
            while end < len(lines) and lines[end].strip().rstrip("\r") != "```":
                end += 1
            if end == len(lines):
                raise YamlError(f"line {n + 1}: the winget block is never closed")
            found.append(("\n".join(lines[n + 1:end]), n + 2))
    if len(found) != 1:
        raise YamlError(f"expected one ```yaml block starting with '{MARKER}', found {len(found)}")
    return found[0]


# ---- checks against the installer manifest schema and kelvane's switches ----

def split_switches(text):
    """Words of a command line; a double-quoted part does not split a word."""
    return re.findall(r'(?:[^\s"]|"[^"]*")+', text)


def check_switch_line(where, text, problems):
    names = set()
    if text.count('"') % 2:
        problems.append(f"{where}: unbalanced double quote")
    for word in split_switches(text):
        if word[0] not in "/-":
            continue
        name, eq, value = word[1:].partition("=")
        name = name.lower()
        if name in VALUED_SWITCHES and eq and value:
            names.add(name)
        elif name in SWITCHES and not eq:
            names.add(name)
        else:
            problems.append(f"{where}: '{word}' is not a kelvane switch (the run would end with 87)")
    if {"quiet", "passive"} <= names:
        problems.append(f"{where}: /quiet and /passive together end the run with 87")
    return names


def in_enum(key, value):
    return isinstance(value, str) and value in ENUMS[key]


def check_mapping(value, level, path, problems):
    if not isinstance(value, dict):
        problems.append(f"{path}: expected a mapping")
        return
    for key, item in value.items():
        where = f"{path}.{key}" if path else key
        if key not in FIELDS[level]:
            problems.append(f"{where}: not a field of the installer manifest here")
            continue
        if key == "InstallModes":
            if not isinstance(item, list):
                problems.append(f"{where}: expected a list")
            else:
                for mode in item:
                    if not in_enum(key, mode):
                        problems.append(f"{where}: '{mode}' is not one of the schema's values")
        elif key in ENUMS:
            if not in_enum(key, item):
                problems.append(f"{where}: '{item}' is not one of the schema's values")
        elif key == "InstallerSwitches":
            check_mapping(item, key, where, problems)
            for name, text in (item.items() if isinstance(item, dict) else ()):
                if not isinstance(text, str) or not text:
                    problems.append(f"{where}.{name}: expected a non-empty string")
        elif key in ("ExpectedReturnCodes", "Installers"):
            if not isinstance(item, list) or not item:
                problems.append(f"{where}: expected a non-empty list of mappings")
                continue
            for n, entry in enumerate(item):
                check_mapping(entry, key, f"{where}[{n}]", problems)
        elif key == "InstallerSuccessCodes":
            for code in item if isinstance(item, list) else [item]:
                check_return_code(where, code, problems)
        elif key == "InstallerReturnCode":
            check_return_code(where, item, problems)
        elif key in ("InstallerUrl", "ReturnResponseUrl") and not (isinstance(item, str) and URL.match(item)):
            problems.append(f"{where}: not an http(s) URL")
        elif key == "InstallerSha256" and not (isinstance(item, str) and SHA256.match(item)):
            problems.append(f"{where}: not 64 hexadecimal digits")
        elif isinstance(item, (dict, list)) and key not in STRING_LISTS:
            problems.append(f"{where}: nested fields here are not checked by this tool")
    for key in REQUIRED.get(level, ()):
        if key not in value:
            problems.append(f"{path or 'root'}: {key} is required")


def check_return_code(where, code, problems):
    if isinstance(code, bool) or not isinstance(code, int):
        problems.append(f"{where}: '{code}' is not an integer")
    elif code == 0 or not RETURN_CODE_RANGE[0] <= code <= RETURN_CODE_RANGE[1]:
        problems.append(f"{where}: {code} is not a code the schema allows (0 is always success)")


def of_type(value, kind):
    return value if isinstance(value, kind) else kind()


def check_kelvane(root, problems):
    """Each installer's switches and return codes, its own overriding the root's;
    wrong types were reported by check_mapping and are passed over here."""
    for n, installer in enumerate(of_type(root.get("Installers"), list)):
        if not isinstance(installer, dict):
            continue
        where = f"Installers[{n}]"
        switches = dict(of_type(root.get("InstallerSwitches"), dict))
        switches.update(of_type(installer.get("InstallerSwitches"), dict))
        wanted = {"Silent": {"quiet", "acceptlicence"}, "SilentWithProgress": {"passive", "acceptlicence"},
                  "Log": {"log"}}
        for name, text in switches.items():
            if not isinstance(text, str):
                continue
            names = check_switch_line(f"{where} {name}", text, problems)
            if "acceptlicense" in names:
                names.add("acceptlicence")
            for missing in sorted(wanted.get(name, set()) - names):
                problems.append(f"{where} {name}: /{missing} is missing")
        for name in wanted:
            if name not in switches:
                problems.append(f"{where}: InstallerSwitches.{name} is missing")
        if "Log" in switches and "<LOGPATH>" not in str(switches["Log"]):
            problems.append(f"{where} Log: <LOGPATH> is missing, so winget's --log has no effect")

        codes = of_type(installer.get("ExpectedReturnCodes", root.get("ExpectedReturnCodes")), list)
        mapped = {}
        for entry in codes:
            code = entry.get("InstallerReturnCode") if isinstance(entry, dict) else None
            if isinstance(code, int):
                if code in mapped:
                    problems.append(f"{where}: return code {code} is mapped twice")
                mapped[code] = entry.get("ReturnResponse")
        for code, response in RESPONSES.items():
            if code not in mapped:
                problems.append(f"{where}: return code {code} is not mapped")
            elif mapped[code] != response:
                problems.append(f"{where}: return code {code} is mapped to {mapped[code]}, "
                                f"not {response}")
        for code, response in DEFAULT_RESPONSES.items():
            if code in mapped and mapped[code] != response:
                problems.append(f"{where}: return code {code} is mapped to {mapped[code]}, "
                                f"not {response}")


def check(markdown):
    text, first_lineno = extract(markdown)
    root = Parser(text, first_lineno).parse()
    problems = []
    if not isinstance(root, dict):
        return ["the fragment is not a mapping"]
    check_mapping(root, "root", "", problems)
    if "ManifestVersion" in root and root["ManifestVersion"] != "1.6.0":
        problems.append(f"ManifestVersion: '{root['ManifestVersion']}' is not 1.6.0")
    check_kelvane(root, problems)
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            markdown = f.read()
    except OSError as e:
        print(f"check_winget_fragment: {e}", file=sys.stderr)
        return 2
    try:
        problems = check(markdown)
    except YamlError as e:
        problems = [str(e)]
    if problems:
        for p in problems:
            print(f"check_winget_fragment: {p}", file=sys.stderr)
        return 1
    print("winget fragment OK")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
