#!/usr/bin/env python3
"""Checks the Group Policy templates against their schema's shape and the
table of machine settings (base/machine_settings.h, as "qzpackrows settings
table" prints it).

Usage: check_policy.py QZPACKROWS POLICY_FOLDER [--self-test]
  POLICY_FOLDER holds Quorlynx.admx and en-US/Quorlynx.adml.
  --self-test    also proves the check fails on each kind of fault.

The shape: the root elements and their revisions; a target namespace; every
category, policy, element and presentation named; "$(string.X)" and
"$(presentation.X)" references found in the ADML; each element's control in
its presentation, of the element's kind; parent categories and supportedOn
references that resolve. Against the table: every setting has exactly one
machine policy under the policy key that writes it with the setting's type
and bounds, and no policy writes anything else."""
import copy
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{%s}" % NS
ELEMENT_KINDS = {"boolean", "decimal", "longDecimal", "text", "multiText", "enum", "list"}
CONTROL_OF = {"decimal": "decimalTextBox", "longDecimal": "longDecimalTextBox", "text": "textBox",
              "multiText": "multiTextBox", "boolean": "checkBox", "enum": "dropdownList", "list": "listBox"}
REF = re.compile(r"^\$\((string|presentation)\.([A-Za-z0-9_.-]+)\)$")


def local(tag):
    return tag[len(Q):] if tag.startswith(Q) else tag


def read_table(tool):
    out = subprocess.run([tool, "settings", "table"], check=True, capture_output=True, text=True).stdout
    key, settings = None, []
    for line in out.splitlines():
        cells = line.split("\t")
        if cells[0] == "# policy key":
            key = cells[1]
        elif cells[0]:
            name, kind, prop, fallback, least, most = cells[:6]
            settings.append({"name": name, "kind": kind, "property": prop, "least": least, "most": most})
    return key, settings


def shape_faults(admx, adml):
    faults = []
    if admx.tag != Q + "policyDefinitions":
        faults.append(f"the ADMX's root is {admx.tag}")
    if adml.tag != Q + "policyDefinitionResources":
        faults.append(f"the ADML's root is {adml.tag}")
    for root, what in ((admx, "ADMX"), (adml, "ADML")):
        for attribute in ("revision", "schemaVersion"):
            if not re.fullmatch(r"\d+\.\d+", root.get(attribute, "")):
                faults.append(f"the {what} has no {attribute}")
    target = admx.find(f"{Q}policyNamespaces/{Q}target")
    if target is None or not target.get("prefix") or not target.get("namespace"):
        faults.append("the ADMX has no target namespace")
    own = target.get("prefix") if target is not None else None
    prefixes = {u.get("prefix") for u in admx.findall(f"{Q}policyNamespaces/{Q}using")}
    if admx.find(f"{Q}resources") is None:
        faults.append("the ADMX has no resources element")

    strings = {s.get("id") for s in adml.iter(Q + "string")}
    presentations = {p.get("id"): p for p in adml.iter(Q + "presentation")}
    for element in admx.iter():
        for attribute in ("displayName", "explainText", "presentation"):
            value = element.get(attribute)
            if value is None:
                continue
            match = REF.match(value)
            if not match:
                faults.append(f"{local(element.tag)} {element.get('name')}: {attribute} {value} is no reference")
            elif match.group(1) == "string" and match.group(2) not in strings:
                faults.append(f"{local(element.tag)} {element.get('name')}: no string {match.group(2)} in the ADML")
            elif match.group(1) == "presentation" and match.group(2) not in presentations:
                faults.append(f"{local(element.tag)} {element.get('name')}: no presentation {match.group(2)}")

    def resolves(ref, local_names):
        prefix, _, name = ref.rpartition(":")
        if prefix and prefix != own:
            return prefix in prefixes
        return name in local_names

    categories = {c.get("name") for c in admx.iter(Q + "category")}
    supported = {d.get("name") for d in admx.iter(Q + "definition")}
    for holder in list(admx.iter(Q + "category")) + list(admx.iter(Q + "policy")):
        for parent in holder.findall(Q + "parentCategory"):
            if not resolves(parent.get("ref", ""), categories):
                faults.append(f"{holder.get('name')}: parent category {parent.get('ref')} is not defined")
    for policy in admx.iter(Q + "policy"):
        name = policy.get("name")
        for attribute in ("name", "class", "displayName", "explainText", "key"):
            if not policy.get(attribute):
                faults.append(f"policy {name}: no {attribute}")
        if policy.get("class") not in ("Machine", "User", "Both"):
            faults.append(f"policy {name}: class {policy.get('class')}")
        if policy.find(Q + "parentCategory") is None:
            faults.append(f"policy {name}: no category")
        support = policy.find(Q + "supportedOn")
        if support is None or not resolves(support.get("ref", ""), supported):
            faults.append(f"policy {name}: no supportedOn that resolves")
        elements = policy.find(Q + "elements")
        children = list(elements) if elements is not None else []
        if children and not policy.get("presentation"):
            faults.append(f"policy {name}: elements without a presentation")
        match = REF.match(policy.get("presentation", ""))
        controls = {}
        if match and match.group(2) in presentations:
            controls = {c.get("refId"): local(c.tag) for c in presentations[match.group(2)]}
        for child in children:
            kind = local(child.tag)
            if kind not in ELEMENT_KINDS:
                faults.append(f"policy {name}: unknown element {kind}")
                continue
            if not child.get("id"):
                faults.append(f"policy {name}: a {kind} without an id")
            if kind in ("decimal", "text", "multiText", "longDecimal") and not child.get("valueName"):
                faults.append(f"policy {name}: {kind} {child.get('id')} has no valueName")
            if controls.get(child.get("id")) != CONTROL_OF[kind]:
                faults.append(f"policy {name}: {kind} {child.get('id')} has no {CONTROL_OF[kind]} in its presentation")
    return faults


# What each policy writes: (value name, kind, least, most), kind as the table names it.
def written(policy):
    values = []
    if policy.get("valueName"):
        numbers = [int(d.get("value")) for tag in ("enabledValue", "disabledValue")
                   for d in policy.findall(f"{Q}{tag}/{Q}decimal")]
        if numbers:
            values.append((policy.get("valueName"), "number", str(min(numbers)), str(max(numbers))))
        else:
            values.append((policy.get("valueName"), "other", "", ""))
    for child in policy.findall(f"{Q}elements/*"):
        kind = local(child.tag)
        if kind == "multiText":
            values.append((child.get("valueName"), "list", "", ""))
        elif kind == "decimal" and child.get("storeAsText") != "true":
            values.append((child.get("valueName"), "number", child.get("minValue", "0"),
                           child.get("maxValue", "9999")))
        elif kind == "text" and child.get("expandable") != "true":
            values.append((child.get("valueName"), "text", "0", child.get("maxLength", "1023")))
        else:
            values.append((child.get("valueName"), "other", "", ""))
    return values


def table_faults(admx, key, settings):
    faults = []
    wanted = {s["name"]: s for s in settings}
    found = {}
    for policy in admx.iter(Q + "policy"):
        for value, kind, least, most in written(policy):
            if policy.get("key") != key or policy.get("class") != "Machine":
                faults.append(f"policy {policy.get('name')} writes {value} outside the machine's {key}")
            found.setdefault(value, []).append((policy.get("name"), kind, least, most))
    for name, setting in wanted.items():
        policies = found.get(name, [])
        if len(policies) != 1:
            faults.append(f"{len(policies)} policies write {name}, not one")
            continue
        _, kind, least, most = policies[0]
        bounds = (setting["least"], setting["most"]) if setting["kind"] != "list" else ("", "")
        if kind != setting["kind"] or (least, most) != bounds:
            faults.append(f"{name}: the policy writes a {kind} {least}..{most}, the table has a "
                          f"{setting['kind']} {bounds[0]}..{bounds[1]}")
    for name in found:
        if name not in wanted:
            faults.append(f"a policy writes {name}, which is no machine setting")
    return faults


def faults_of(admx, adml, key, settings):
    return shape_faults(admx, adml) + table_faults(admx, key, settings)


def self_test(admx, adml, key, settings):
    """Each mutation must be caught, or passing the check proves nothing."""
    def drop_policy(x, _):
        policies = x.find(Q + "policies")
        policies.remove(policies.find(f"{Q}policy[@name='Channel']"))

    def widen(x, _):
        x.find(f".//{Q}decimal[@id='SignaturesRequired']").set("minValue", "0")

    def lose_string(_, l):
        table = l.find(f".//{Q}stringTable")
        table.remove(table.find(f"{Q}string[@id='TrustedSites_Explain']"))

    def other_key(x, _):
        x.find(f"{Q}policies/{Q}policy[@name='PortalKeys']").set("key", "SOFTWARE\\Veltoworks")

    def wrong_control(_, l):
        box = l.find(f".//{Q}presentation[@id='GameLocations']/{Q}multiTextBox")
        box.tag = Q + "textBox"

    def list_as_text(x, _):
        x.find(f".//{Q}multiText[@id='ManifestKeys']").tag = Q + "text"

    mutations = {"a setting without a policy": drop_policy, "bounds other than the table's": widen,
                 "a missing string": lose_string, "a policy under another key": other_key,
                 "a control of another kind": wrong_control, "a list written as text": list_as_text}
    for name, mutate in mutations.items():
        x, l = copy.deepcopy(admx), copy.deepcopy(adml)
        mutate(x, l)
        if not faults_of(x, l, key, settings):
            print(f"check_policy.py: the check missed {name}", file=sys.stderr)
            return False
        print(f"caught: {name}")
    return True


def main(args):
    if len(args) not in (2, 3) or (len(args) == 3 and args[2] != "--self-test"):
        print(__doc__, file=sys.stderr)
        return 2
    key, settings = read_table(args[0])
    if not key or not settings:
        print("check_policy.py: qzpackrows printed no table", file=sys.stderr)
        return 2
    admx = ET.parse(f"{args[1]}/Quorlynx.admx").getroot()
    adml = ET.parse(f"{args[1]}/en-US/Quorlynx.adml").getroot()
    faults = faults_of(admx, adml, key, settings)
    for fault in faults:
        print(f"check_policy.py: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"{len(settings)} machine settings, each with its policy under {key}")
    if len(args) == 3 and not self_test(admx, adml, key, settings):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
