#!/usr/bin/python3
"""Adds the mail server's user attributes to a stopped Samba AD domain.

Real schools run the mail server's schema extension, which brings
msExchHideFromAddressLists, homeMDB and extensionAttribute1-15; Samba's default
schema lacks them and refuses schema changes over LDAP, so they are written
straight into sam.ldb while the domain controller is stopped.

Usage: mail_schema.py <smb.conf> <base DN>
"""

import sys

from samba import param
from samba.auth import system_session
from samba.samdb import SamDB

# A private arc below Microsoft's range for locally generated schema; the test
# domain never meets a real mail server, so the attributes only need to be
# unique within it.
ARC = "1.2.840.113556.1.8000.2554.47110.1"


def attribute(schema_dn, cn, oid, syntax, om_syntax, single, extra=""):
    return f"""dn: CN={cn},{schema_dn}
objectClass: top
objectClass: attributeSchema
cn: {cn}
lDAPDisplayName: {cn}
attributeID: {oid}
attributeSyntax: {syntax}
oMSyntax: {om_syntax}
isSingleValued: {"TRUE" if single else "FALSE"}
systemOnly: FALSE
searchFlags: 0
{extra}""".strip() + "\n\n"


def main():
    conf, base_dn = sys.argv[1], sys.argv[2]
    lp = param.LoadParm()
    lp.load(conf)
    lp.set("dsdb:schema update allowed", "true")
    samdb = SamDB(url=lp.private_path("sam.ldb"), session_info=system_session(), lp=lp)
    schema_dn = f"CN=Schema,CN=Configuration,{base_dn}"

    names = ["msExchHideFromAddressLists", "homeMDB"] + [
        f"extensionAttribute{i}" for i in range(1, 16)
    ]
    ldif = attribute(schema_dn, "msExchHideFromAddressLists", f"{ARC}.1", "2.5.5.8", 1, True)
    ldif += attribute(
        schema_dn, "homeMDB", f"{ARC}.2", "2.5.5.1", 127, True,
        "oMObjectClass:: KwwCh3McAIVK")
    for i in range(1, 16):
        ldif += attribute(
            schema_dn, f"extensionAttribute{i}", f"{ARC}.{100 + i}", "2.5.5.12", 64, True,
            "rangeLower: 1\nrangeUpper: 2048")
    # The new attributes must be in the loaded schema before the user class may
    # name them, so the schema is reloaded in between (two commits).
    samdb.add_ldif(ldif)
    samdb.modify_ldif("dn:\nchangetype: modify\nadd: schemaUpdateNow\nschemaUpdateNow: 1\n")
    mods = "".join(f"mayContain: {n}\n" for n in names)
    samdb.modify_ldif(f"dn: CN=User,{schema_dn}\nchangetype: modify\nadd: mayContain\n{mods}")
    samdb.modify_ldif("dn:\nchangetype: modify\nadd: schemaUpdateNow\nschemaUpdateNow: 1\n")

if __name__ == "__main__":
    main()
