# SPDX-License-Identifier: MIT
"""The verdicts of tests/cases/schema.txt checked by an independent
validator (python3-jsonschema's Draft 2020-12 one): each valid or invalid
case must get the same verdict there, and each schema rejected for a bad
value must fail its meta-schema check there too. Starred verdicts (a
stricter reading of the standard, docs/schema.md) and keywords outside the
subset (which the validator knows) are left out. Exits 77 when python3 has
no jsonschema."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("SKIP: python3 has no jsonschema module (Debian package python3-jsonschema)")
    sys.exit(77)


def field(text):
    """The bytes a case field stands for (%HH is the byte HH), as text."""
    raw = text.encode()
    out = bytearray()
    i = 0
    while i < len(raw):
        if raw[i:i + 1] == b"%":
            out.append(int(raw[i + 1:i + 3], 16))
            i += 3
        else:
            out.append(raw[i])
            i += 1
    return out.decode()


def main(path):
    checked = failed = 0
    section = ""
    described = False
    with open(path, encoding="utf-8") as cases:
        for number, line in enumerate(cases, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                section = line.lstrip("# ") if described else section
                described = described or line.endswith(".")
                continue
            described = True
            if not line:
                continue
            schema_text, instance_text, verdict, message = (field(f) for f in line.split("\t"))
            where = f"{path}:{number}: [{section}]"
            if verdict.endswith("*") or message.startswith("line 1, column 1: the root") or "unsupported" in message:
                continue
            try:
                schema = json.loads(schema_text)
            except ValueError:
                continue  # rejected by the reader, not the meta-schema
            if verdict == "rejected":
                if "duplicate" in message or "trailing" in message:
                    continue
                try:
                    jsonschema.Draft202012Validator.check_schema(schema)
                except jsonschema.SchemaError:
                    checked += 1
                    continue
                if "$schema" in message or "$id" in message:
                    continue  # rules of the Core text that the meta-schema does not carry
                print(f"{where} {schema_text}: the validator accepts this schema")
                failed += 1
                continue
            valid = jsonschema.Draft202012Validator(schema).is_valid(json.loads(instance_text))
            checked += 1
            if valid != (verdict == "valid"):
                print(f"{where} {schema_text} {instance_text}: the validator says {'valid' if valid else 'invalid'}")
                failed += 1
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed or checked < 100 else 0


sys.exit(main(sys.argv[1]))
