#!/usr/bin/env bash
# Lists the dynamic symbols a shared liborv exports and fails on any a host must not see.
#
# Allowed: the C interface (orv_*) and orv's public C++ API (orv::, with the vtables, typeinfo and
# thunks of its exported classes). Also allowed: weak instantiations of standard-library templates
# (std::, __gnu_cxx::) over standard or public orv types, such as std::map<std::string, InfoValue>
# members or typeinfo for std::_Sp_make_shared_tag. Visibility cannot hide them: libstdc++ declares
# its templates with default visibility, and an instantiation over default-visibility arguments
# keeps it. They are harmless (the dynamic linker merges them with a host's identical copies) and
# some must stay unique in the process anyway. Likewise the vtables and typeinfo of Boost's
# exception classes, which Boost marks visible so that its exceptions can cross libraries.
# Refused: anything naming orv::detail, also as a template argument (g++ leaves a standard template
# exported when its arguments are only pointers to hidden types, or a lambda of an inline
# function), symbols of libcurl, simdjson, Highway or OpenSSL, and everything else.
set -euo pipefail
lib=$1

mangled=$(nm -D --defined-only "$lib" | awk '{ print $NF }')
[[ -n $mangled ]] || { echo "exports: no symbols read from $lib" >&2; exit 1; }
demangled=$(c++filt <<<"$mangled")

# Vtable, typeinfo, guard variable or thunk prefix, a local entity's Z, then the outermost scope.
special='^_Z(T[VITS]|GV|Th[^_]*_|Tv[^_]*_[^_]*_)?Z?N?[KVr]*'
paste <(cat <<<"$mangled") <(cat <<<"$demangled") | awk -F'\t' -v special="$special" '
  $2 ~ /orv::detail/ { bad[++nbad] = "internal: " $2; next }
  $2 ~ /(^|[^A-Za-z0-9_])(curl_|Curl_|simdjson|hwy::|SSL_|EVP_|OPENSSL_|CRYPTO_|ERR_|BIO_|X509)/ {
    bad[++nbad] = "dependency: " $2; next
  }
  $1 ~ /^orv_/ { c++; next }
  $1 ~ (special "3orv") { cxx++; next }
  $1 ~ (special "(St|9__gnu_cxx)") { std++; next }
  $1 ~ /^_ZT[VIS]N?5boost/ && $2 ~ /^(vtable|typeinfo|typeinfo name) for boost::/ { boost++; next }
  { bad[++nbad] = "outside orv: " $2 }
  END {
    printf "exports: %d symbols (C %d, orv:: %d, standard-library instantiations %d, Boost " \
           "exception type data %d)\n", c + cxx + std + boost + nbad, c, cxx, std, boost
    for (i = 1; i <= nbad; i++) print "exports: not allowed: " bad[i] > "/dev/stderr"
    exit(nbad > 0)
  }'
