#!/usr/bin/python3
"""Makes a made-up but realistic school for Tavlevagt: a full sync job and a
directory snapshot that already holds part of it.

The job (brovalt-<sequence>.dat) is written the way the school registers
write it: Windows-1252, CR LF line ends, a sequence and school section, then
the complete staff list (@*MEDA) and the complete pupil list (@*PERS). Staff
logins are written in capitals (the service lower-cases them), passwords are
enciphered (RC4 with the service's key, then Base64) except for a few
"Kode…" placeholders, and field 7 holds the groups separated by ":".

The snapshot (LDIF of the domain DC=skole,DC=test) holds most of the users
and their class groups below OU=ZEB, plus the cases a first run meets: users
who have left, an account without identification whose login matches a job
user, a pupil account parked as "<login>_inaktiv" without identification,
an account the service does not maintain and a group without the marking.

Everything is derived from the seed, so the same arguments give the same
bytes. Standard library only:

    /usr/bin/python3 examples/generate_school.py --out examples/datafolder
    /usr/bin/python3 examples/generate_school.py --pupils 100000 --staff 2000 \
        --sequence 3001 --no-ldif --out /tmp/bench
"""

import argparse
import base64
import hashlib
import os
import random
import sys
import unicodedata

KEY = b"KlarMoskeventudFjorBekkalmSindro"
DOMAIN_DN = "DC=skole,DC=test"
DNS_DOMAIN = "skole.test"
ZEB = "OU=ZEB," + DOMAIN_DN
STAFF_OU = "OU=Medarbejder," + ZEB
PUPIL_OU = "OU=Elev," + ZEB
GROUP_OU = "OU=Grupper," + ZEB
PERSON_CATEGORY = "CN=Person,CN=Schema,CN=Configuration," + DOMAIN_DN
GROUP_CATEGORY = "CN=Group,CN=Schema,CN=Configuration," + DOMAIN_DN

FIRST_NAMES = [
    "Søren", "Bjørn", "Åse", "Jørgen", "Mette", "Anne", "Kim", "Lærke", "Frederik",
    "Mads", "Sofie", "Ida", "Emil", "Freja", "Oliver", "Clara", "Noah", "Maja",
    "William", "Ellen", "Karl", "Asta", "Bodil", "Kåre", "Gørild", "Østen", "Æsa",
    "Rasmus", "Mathilde", "Magnus", "Sigrid", "Aksel", "Thea", "Viggo", "Liv",
    "Jens", "Hanne", "Birthe", "Pål", "Signe",
]
LAST_NAMES = [
    "Jørgensen", "Sørensen", "Møller", "Lærkesen", "Ågård", "Kjær", "Bæk",
    "Østergaard", "Nørgaard", "Hansen", "Nielsen", "Pedersen", "Andersen",
    "Christensen", "Larsen", "Rasmussen", "Jensen", "Madsen", "Thøgersen",
    "Dræby", "Fænø", "Ærøbo", "Skovgård", "Holm", "Bøgh", "Lund", "Kragh",
]
STREETS = ["Skolevej", "Æblevej", "Søndergade", "Møllestien", "Strandvejen",
           "Kirkestræde", "Ørnevej", "Gåsetorvet", "Bøgealle", "Havnegade"]
PLACES = [("Brovalt", "5960", "Marstal"), ("Ærøskøbing", "5970", "Ærøskøbing"),
          ("Søby", "5985", "Søby Ærø"), ("Rise", "5970", "Ærøskøbing")]
STAFF_ROLES = [
    ("Lærer", "Udskoling", "Lærere"), ("Lærer", "Mellemtrin", "Lærere"),
    ("Lærer", "Indskoling", "Lærere"), ("Pædagog", "Indskoling", "Pædagoger"),
    ("Skolesekretær", "Administration", "Kontor"), ("Skoleleder", "Ledelse", "Ledelse"),
    ("Pedel", "Drift", "Teknisk personale"),
]


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


def encipher(clear):
    """The password field of a job: Base64 of RC4(clear text + zero byte)."""
    return base64.b64encode(rc4(KEY, clear.encode("cp1252") + b"\0")).decode("ascii")


def ascii_fold(text):
    text = text.replace("æ", "ae").replace("Æ", "Ae").replace("ø", "o").replace("Ø", "O")
    text = text.replace("å", "aa").replace("Å", "Aa")
    text = unicodedata.normalize("NFKD", text)
    return "".join(c for c in text if c.isascii() and c.isalnum())


def identification(kind, number):
    return hashlib.md5(f"brovalt:{kind}:{number}".encode("ascii")).hexdigest()


def birth_date(rng, year):
    month = rng.randint(1, 12)
    day = rng.randint(1, 28)
    return f"{day:02d}{month:02d}{year % 100:02d}"


class School:
    def __init__(self, staff_count, pupil_count, seed):
        self.rng = random.Random(seed)
        self.used = set()
        self.staff = [self._staff(i) for i in range(staff_count)]
        self.pupils = [self._pupil(i) for i in range(pupil_count)]

    def _unique(self, base):
        login, n = base, 1
        while login.lower() in self.used:
            n += 1
            login = f"{base}{n}"
        self.used.add(login.lower())
        return login

    def _address(self):
        street = f"{self.rng.choice(STREETS)} {self.rng.randint(1, 120)}"
        place, postnr, district = self.rng.choice(PLACES)
        return street, place, district, postnr

    def _staff(self, i):
        rng = self.rng
        first, last = rng.choice(FIRST_NAMES), rng.choice(LAST_NAMES)
        login = self._unique((ascii_fold(first)[:2] + ascii_fold(last)[:2]).upper())
        # One leader, two in the office, one caretaker; the rest teach or care.
        fixed = {0: 5, 1: 4, 2: 4, 3: 6}
        title, area, group = STAFF_ROLES[fixed.get(i, i % 4)]
        number = 1000 + i
        groups = [group]
        if group == "Lærere":
            groups.append(f"{rng.randint(0, 9)}{'ABC'[rng.randint(0, 2)]}")
        if i % 9 == 0:
            groups.append("Ærø Hold")
        password = f"Kode{4000 + i}" if i % 10 == 3 else f"Brovalt{rng.randint(1000, 9999)}æ"
        street, place, district, postnr = self._address()
        return {
            "kind": "M", "login": login, "id": identification("M", number),
            "password": password, "first": first, "last": last, "number": str(number),
            "birth": birth_date(rng, rng.randint(1958, 1998)), "groups": groups,
            "area": area, "title": title, "deptcode": "101", "deptname": "Brovalt Skole",
            "street": street, "place": place, "district": district, "postnr": postnr,
            "anfo": f"{title}, {area}", "phone": f"6{rng.randint(2000000, 9999999)}",
            "at": f"AT{i % 4:02d}", "ma": f"MA{i % 3:02d}", "mt": f"MT{i % 2:02d}",
        }

    def _pupil(self, i):
        rng = self.rng
        first, last = rng.choice(FIRST_NAMES), rng.choice(LAST_NAMES)
        login = self._unique((ascii_fold(first)[:3] + ascii_fold(last)[:3]).lower())
        # Classes of 20: 0A … 9A, then 0B … 9B and so on.
        grade = (i // 20) % 10
        cls = f"{grade}{'ABCDEFGHJK'[(i // 200) % 10]}"
        number = 20000 + i
        groups = [cls]
        if grade >= 7 and i % 7 == 0:
            groups.append("Ærø Hold")
        password = f"Kode{i:04d}" if i % 25 == 0 else f"{ascii_fold(first)}{rng.randint(10, 99)}!"
        street, place, district, postnr = self._address()
        stage = "Indsk" if grade <= 2 else ("Mellem" if grade <= 6 else "Udsk")
        return {
            "kind": "E", "login": login, "id": identification("E", number),
            "password": password, "first": first, "last": last, "number": str(number),
            "birth": birth_date(rng, 2026 - 6 - grade), "groups": groups, "street": street,
            "place": place, "district": district, "postnr": postnr,
            "phone": f"2{rng.randint(1000000, 9999999)}", "at": f"AT{grade:02d}",
            "ma": f"MA{grade:02d}", "stage": stage, "education": f"{grade}. kl",
        }


def password_field(user):
    return user["password"] if "Kode" in user["password"] else encipher(user["password"])


def staff_line(u):
    fields = [u["login"], u["id"], password_field(u), u["first"], u["last"], u["number"],
              u["birth"], ":".join(u["groups"]), u["area"], u["title"], u["deptcode"],
              u["deptname"], u["street"], u["place"], u["district"], u["postnr"], u["anfo"],
              u["phone"], u["at"], u["ma"], u["mt"]]
    return ";".join(fields)


def pupil_line(u):
    fields = [u["login"], u["id"], password_field(u), u["first"], u["last"], u["number"],
              u["birth"], ":".join(u["groups"]), u["street"], u["place"], u["district"],
              u["postnr"], u["phone"], u["at"], u["ma"], u["stage"], u["education"]]
    return ";".join(fields)


def write_job(path, school, sequence, school_name):
    lines = ["@*SEKVENS", sequence, "@*SKOLE", school_name, "@*MEDA"]
    lines += [staff_line(u) for u in school.staff]
    lines.append("@*PERS")
    lines += [pupil_line(u) for u in school.pupils]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


# --- LDIF -----------------------------------------------------------------

def ldif_value(attr, value):
    raw = value.encode("utf-8")
    safe = (value.isascii() and value == value.strip() and not value.startswith((":", "<"))
            and all(0x20 <= b < 0x7F for b in raw))
    if safe:
        return f"{attr}: {value}"
    return f"{attr}:: {base64.b64encode(raw).decode('ascii')}"


def ldif_record(dn, attrs):
    out = [ldif_value("dn", dn)]
    for attr, value in attrs:
        out.append(ldif_value(attr, value))
    return "\n".join(out) + "\n\n"


def ou(dn):
    name = dn.split(",", 1)[0][3:]
    return ldif_record(dn, [("objectClass", "top"), ("objectClass", "organizationalUnit"),
                            ("ou", name), ("name", name)])


def user_entry(login, container, first, last, description, ident, pers_id, enabled=True):
    attrs = [("objectClass", "top"), ("objectClass", "person"),
             ("objectClass", "organizationalPerson"), ("objectClass", "user"),
             ("cn", login), ("name", login), ("sAMAccountName", login),
             ("userPrincipalName", f"{login}@{DNS_DOMAIN}"), ("givenName", first),
             ("sn", last), ("displayName", f"{first} {last}"),
             ("objectCategory", PERSON_CATEGORY),
             ("userAccountControl", "512" if enabled else "514"),
             ("pwdLastSet", "133800000000000000")]
    if description:
        attrs.append(("description", description))
    if ident:
        attrs.append(("employeeNumber", ident))
    if pers_id:
        attrs.append(("employeeID", pers_id))
    return ldif_record(f"CN={login},{container}", attrs)


def group_entry(name, kind, members):
    attrs = [("objectClass", "top"), ("objectClass", "group"), ("cn", name), ("name", name),
             ("sAMAccountName", ascii_fold(name) or name), ("groupType", "-2147483646"),
             ("objectCategory", GROUP_CATEGORY)]
    if kind:
        attrs.append(("description", f"Autooprettet af ZEB ({kind})"))
    else:
        attrs.append(("description", "Oprettet af kontoret"))
    attrs += [("member", m) for m in sorted(members)]
    return ldif_record(f"CN={name},{GROUP_OU}", attrs)


def write_ldif(path, school):
    rng = random.Random(4711)
    parts = ["version: 1\n\n"]
    parts.append(ldif_record(DOMAIN_DN, [("objectClass", "top"), ("objectClass", "domain"),
                                         ("objectClass", "domainDNS"), ("dc", "skole"),
                                         ("name", "skole")]))
    parts.append(ldif_record("CN=Users," + DOMAIN_DN, [("objectClass", "top"),
                                                      ("objectClass", "container"),
                                                      ("cn", "Users"), ("name", "Users")]))
    for dn in [ZEB, STAFF_OU, "OU=Arkiv," + STAFF_OU, "OU=Inaktive," + STAFF_OU, PUPIL_OU,
               "OU=Arkiv," + PUPIL_OU, "OU=Inaktive," + PUPIL_OU, GROUP_OU,
               "OU=Arkiv," + GROUP_OU]:
        parts.append(ou(dn))

    groups = {}  # name -> (kind, members)
    staff_present = school.staff[: len(school.staff) * 3 // 4]
    pupil_present = school.pupils[: len(school.pupils) * 7 // 8]
    for u in staff_present:
        login = u["login"].lower()
        last = u["last"] if rng.random() > 0.1 else u["last"] + "-Holm"  # a few to update
        parts.append(user_entry(login, STAFF_OU, u["first"], last,
                                f"Autooprettet af ZEB ({u['number']})", u["id"], None))
        for g in u["groups"]:
            groups.setdefault(g, ["M", set()])[1].add(f"CN={login},{STAFF_OU}")
    for u in pupil_present:
        parts.append(user_entry(u["login"], PUPIL_OU, u["first"], u["last"],
                                f"Autooprettet af ZEB ({u['number']})", u["id"],
                                f"PERS_ID={u['number']}"))
        for g in u["groups"]:
            groups.setdefault(g, ["E", set()])[1].add(f"CN={u['login']},{PUPIL_OU}")

    # Leavers: identifications the job no longer holds.
    for k in range(2):
        login = f"fra{k + 1}"
        parts.append(user_entry(login, STAFF_OU, "Tidligere", f"Ansat{k + 1}",
                                f"Autooprettet af ZEB ({900 + k})",
                                identification("M", 900 + k), None))
    for k in range(5):
        login = f"udmeldt{k + 1:02d}"
        parts.append(user_entry(login, PUPIL_OU, "Udmeldt", f"Elev{k + 1}",
                                f"Autooprettet af ZEB ({19000 + k})",
                                identification("E", 19000 + k), f"PERS_ID={19000 + k}"))
        groups.setdefault("9A", ["E", set()])[1].add(f"CN={login},{PUPIL_OU}")

    # A job user whose account was made before identifications were written.
    if len(school.pupils) > len(pupil_present):
        u = school.pupils[len(pupil_present)]
        parts.append(user_entry(u["login"], PUPIL_OU, u["first"], u["last"],
                                f"Autooprettet af ZEB ({u['number']})", None,
                                f"PERS_ID={u['number']}"))
    if len(school.pupils) > len(pupil_present) + 1:
        u = school.pupils[len(pupil_present) + 1]
        parts.append(user_entry(u["login"] + "_inaktiv", "OU=Inaktive," + PUPIL_OU, u["first"],
                                u["last"], f"Autooprettet af ZEB ({u['number']})", None,
                                f"PERS_ID={u['number']}", enabled=False))
    if len(school.staff) > len(staff_present):
        u = school.staff[len(staff_present)]
        parts.append(user_entry(u["login"].lower(), STAFF_OU, u["first"], u["last"],
                                f"Autooprettet af ZEB ({u['number']})", None, None))

    # Not the service's: made by hand in its container, no marking.
    parts.append(user_entry("vikar01", STAFF_OU, "Vikar", "Kontoret",
                            "Vikarkonto oprettet manuelt", None, None))

    for name in sorted(groups):
        kind, members = groups[name]
        parts.append(group_entry(name, kind, members))
    parts.append(group_entry("Skakklub", None, []))
    parts.append(group_entry("Gammel 9C", "E", []))

    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(parts))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--staff", type=int, default=40)
    parser.add_argument("--pupils", type=int, default=600)
    parser.add_argument("--sequence", default="1001")
    parser.add_argument("--seed", type=int, default=1001)
    parser.add_argument("--school", default="Brovalt Skole på Ærø")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "datafolder"))
    parser.add_argument("--no-ldif", action="store_true", help="write the job only")
    args = parser.parse_args(argv)

    school = School(args.staff, args.pupils, args.seed)
    os.makedirs(args.out, exist_ok=True)
    job = os.path.join(args.out, f"brovalt-{args.sequence}.dat")
    write_job(job, school, args.sequence, args.school)
    print(f"{job}: {len(school.staff)} staff, {len(school.pupils)} pupils")
    if not args.no_ldif:
        ldif = os.path.join(args.out, "directory.ldif")
        write_ldif(ldif, school)
        print(f"{ldif}: written")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
