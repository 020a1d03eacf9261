#!/usr/bin/perl
# Prints the record numbers of one tag of an .MDX (or of an .NDX) in index order, as Perl's
# XBase::Index, an independent reader, walks the B-tree.
use strict;
use warnings;
use XBase::Index;

my ($file, $tag) = @ARGV;
my $index = defined $tag ? XBase::Index->new($file, 'tag' => $tag) : XBase::Index->new($file);
die XBase::Index->errstr unless $index;
$index->prepare_select;
while (my ($key, $recno) = $index->fetch) {
    print "$recno\n";
}
