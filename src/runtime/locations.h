// The directory locations: the domain's names, read once at settings load
// from the directory's root entry, and the containers below `LdapPath` that
// the program manages (system container, groups, staff and pupils, each with
// its archive and, for users, its inactive container), as DNs and LDAP paths.
#pragma once

namespace tv {

struct Runtime;

// Reads defaultNamingContext, rootDomainNamingContext and dnsHostName from
// "LDAP://RootDSE" and the DNS domain name through the name translation, and
// builds the eighteen locations into rt.trim. Without a directory, or when
// the root entry cannot be bound, the names stay empty (each logged as a
// "** Fejl: " line) and the locations are built from `LdapPath` alone.
void computeLocations(Runtime& rt);

// The eighteen "Trim.…" lines, at level 1.
void logLocations(Runtime& rt);

}  // namespace tv
