// The names an attribute map may join: the directory attributes a school may
// fill from the registers (one key each in [MedarbejderFelter] and
// [ElevFelter]) and the job field names a value may name. A map value that is
// neither one of these fields nor an expression ("…@…" or "*…") is refused at
// settings load.
#pragma once

#include <array>
#include <string_view>

namespace tv {

// clang-format off

// "postalCode" is listed twice; both keys read the same settings line.
inline constexpr std::array<std::string_view, 35> kStaffMapAttributes = {
    "sAMAccountName", "title", "description", "postalCode", "telephoneNumber",
    "telephoneMobile", "l", "FirstName", "LastName", "pager", "displayName", "department",
    "company", "comment", "mobile", "mail", "streetAddress", "postalCode", "initials",
    "userPrincipalName", "extensionAttribute1", "extensionAttribute2", "extensionAttribute3",
    "extensionAttribute4", "extensionAttribute5", "extensionAttribute6", "extensionAttribute7",
    "extensionAttribute8", "extensionAttribute9", "extensionAttribute10", "extensionAttribute11",
    "extensionAttribute12", "extensionAttribute13", "extensionAttribute14",
    "extensionAttribute15"};

// The staff list without "company".
inline constexpr std::array<std::string_view, 34> kPupilMapAttributes = {
    "sAMAccountName", "title", "description", "postalCode", "telephoneNumber",
    "telephoneMobile", "l", "FirstName", "LastName", "pager", "displayName", "department",
    "comment", "mobile", "mail", "streetAddress", "postalCode", "initials",
    "userPrincipalName", "extensionAttribute1", "extensionAttribute2", "extensionAttribute3",
    "extensionAttribute4", "extensionAttribute5", "extensionAttribute6", "extensionAttribute7",
    "extensionAttribute8", "extensionAttribute9", "extensionAttribute10", "extensionAttribute11",
    "extensionAttribute12", "extensionAttribute13", "extensionAttribute14",
    "extensionAttribute15"};

inline constexpr std::array<std::string_view, 29> kStaffJobFields = {
    "Stillingsbetegnelse", "Skolenavn", "fornavn", "efternavn", "meda_id", "ansvarsomrade",
    "ekstern_stillingsbetegnelse", "afdelingskode", "afdelingsnavn", "afdelingsgade",
    "afdelingsstednavn", "afdelingspostdistrikt", "afdelingspostnr", "initialer",
    "anfo_beskrivelse", "tlf_ZEB", "ATStr_KLOV", "MTStr_KLOV", "MAStr_KLOV", "ElevAfdKortBet",
    "UddaKortBet", "FODSELSDAG", "Fodselsdato", "EMAIL", "U_MEDA", "NAVN", "NAVN_INIT",
    "ID_NAVN", "CLEAR"};

inline constexpr std::array<std::string_view, 22> kPupilJobFields = {
    "Skolenavn", "fornavn", "efternavn", "pers_id", "elevgade", "elevstednavn",
    "elevpostdistrikt", "elevpostnr", "initialer", "tlf_ZEB", "ATStr_KLOV", "MTStr_KLOV",
    "MAStr_KLOV", "FODSELSDAG", "Fodselsdato", "E_PERS", "EMAIL", "NAVN", "NAVN_INIT",
    "ID_NAVN", "UDDA_BETEGNELSE", "CLEAR"};

// clang-format on

}  // namespace tv
